#include "tavroctl/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tavroctl/reply.h"

namespace tavroctl {

void Table::print(std::ostream& out) const {
  std::vector<std::size_t> width;
  for (const auto& row : rows_) {
    width.resize(std::max(width.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i)
      width[i] = std::max(width[i], std::max<std::size_t>(printable(row[i], true).size(), 1));
  }
  for (const auto& row : rows_) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string cell = row[i].empty() ? "-" : printable(row[i], true);
      line += cell;
      if (i + 1 < row.size()) line += std::string(width[i] - cell.size() + 2, ' ');
    }
    out << line << '\n';
  }
}

std::string escape_label(const std::string& value) {
  std::string out;
  for (char c : printable(value)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

void Metrics::add(const std::string& name, const std::string& help, const Labels& labels,
                  const std::string& value) {
  auto family = std::find_if(families_.begin(), families_.end(),
                             [&](const Family& f) { return f.name == name; });
  if (family == families_.end()) family = families_.insert(families_.end(), {name, help, {}});
  std::string sample = name;
  for (std::size_t i = 0; i < labels.size(); ++i)
    sample +=
        (i == 0 ? "{" : ",") + labels[i].first + "=\"" + escape_label(labels[i].second) + "\"";
  family->samples.push_back(sample + (labels.empty() ? " " : "} ") + value);
}

std::string Metrics::text() const {
  std::string out;
  for (const Family& f : families_) {
    const bool counter = f.name.size() > 6 && f.name.compare(f.name.size() - 6, 6, "_total") == 0;
    out += "# HELP " + f.name + " " + f.help + "\n# TYPE " + f.name +
           (counter ? " counter\n" : " gauge\n");
    for (const std::string& s : f.samples) out += s + "\n";
  }
  return out;
}

std::string replace_file(const std::string& path, const std::string& text) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  std::string temp =
      (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return std::strerror(errno);
  std::string_view rest = text;
  while (!rest.empty()) {
    ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  const bool ok = rest.empty() && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int reason = ok ? errno : error;
    ::unlink(temp.c_str());
    return std::strerror(reason != 0 ? reason : EIO);
  }
  return "";
}

}  // namespace tavroctl
