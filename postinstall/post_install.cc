#include "postinstall/post_install.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace postinstall {
namespace {

struct PageRow {
  const char* mix;
  const char* page;
};

// Product mix and its default page; the first match wins.
constexpr PageRow kDefaultPages[] = {
    {"KVR", "lanternixe.html"},
    {"QDN", "ltx.html"},
    {"BOTH", "ltx.html"},
    {nullptr, nullptr},
};

// Owns a file descriptor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads the whole file into text; the status of replace_in_file on failure.
int read_file(const char* path, std::string* text, struct stat* info) {
  Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return 4;
  if (::fstat(fd.get(), info) != 0) return 5;
  if (!S_ISREG(info->st_mode)) return 4;
  if (info->st_size == 0) return 6;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 7;
    if (n == 0) break;
    text->append(chunk, static_cast<std::size_t>(n));
  }
  return text->empty() ? 7 : 0;
}

std::string folder_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Gives the temporary file the original's owner and mode and forces it to disk.
bool finish_temp(int fd, const struct stat& original) {
  struct stat now;
  if (::fstat(fd, &now) != 0) return false;
  if ((now.st_uid != original.st_uid || now.st_gid != original.st_gid) &&
      ::fchown(fd, original.st_uid, original.st_gid) != 0) {
    return false;
  }
  return ::fchmod(fd, original.st_mode & 07777) == 0 && ::fsync(fd) == 0;
}

// True while path still names the file that was read.
bool still_there(const std::string& path, const struct stat& original) {
  struct stat now;
  return ::stat(path.c_str(), &now) == 0 && now.st_dev == original.st_dev &&
         now.st_ino == original.st_ino;
}

// Writes text to a temporary file beside the file and renames it over it.
int write_atomically(const char* path, const std::string& text, const struct stat& original) {
  char* resolved = ::realpath(path, nullptr);
  if (resolved == nullptr) return 8;
  std::string real = resolved;
  std::free(resolved);
  std::string folder = folder_of(real);
  std::string temp = folder + "/.LtxPostInstall.XXXXXX";
  Fd fd(::mkstemp(temp.data()));
  if (fd.get() < 0) return 8;
  bool ok = write_all(fd.get(), text) && finish_temp(fd.get(), original);
  ok = ::close(fd.release()) == 0 && ok;
  if (!ok || !still_there(real, original) || ::rename(temp.c_str(), real.c_str()) != 0) {
    ::unlink(temp.c_str());
    return 8;
  }
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return 0;
}

}  // namespace

bool split_fields(std::string_view text, Fields* fields) {
  text = text.substr(0, kMaxCommandLine);
  std::string* slots[] = {&fields->target, &fields->home, &fields->port, &fields->mix};
  std::size_t filled = 0;
  std::size_t at = 0;
  while (filled < 4) {
    at = text.find_first_not_of(',', at);
    if (at == std::string_view::npos) return false;
    std::size_t end = text.find(',', at);
    if (end == std::string_view::npos) end = text.size();
    slots[filled++]->assign(text.substr(at, end - at));
    at = end;
  }
  return true;
}

int replace_all(const char* text, std::size_t length, const char* placeholder,
                const char* replacement, std::string* output) {
  if (text == nullptr) return 1;
  if (output == nullptr) return 2;
  std::string_view rest(text, length);
  std::string_view word(placeholder != nullptr ? placeholder : "");
  if (!word.empty()) {
    for (std::size_t at; (at = rest.find(word)) != std::string_view::npos;) {
      output->append(rest.substr(0, at)).append(replacement != nullptr ? replacement : "");
      rest.remove_prefix(at + word.size());
    }
  }
  output->append(rest);
  return 0;
}

int replace_in_file(const char* path, const char* placeholder, const char* replacement) {
  if (path == nullptr || *path == '\0') return 1;
  if (placeholder == nullptr || *placeholder == '\0') return 2;
  if (replacement == nullptr) return 3;
  std::string text;
  struct stat info;
  if (int status = read_file(path, &text, &info); status != 0) return status;
  std::string result;
  replace_all(text.data(), text.size(), placeholder, replacement, &result);
  if (result == text) return 0;
  return write_atomically(path, result, info);
}

int post_install(const char* command) {
  if (command == nullptr || *command == '\0') return 0;
  Fields f;
  if (!split_fields(command, &f)) return 1;
  replace_in_file(f.target.c_str(), "HOME_DIR", f.home.c_str());
  replace_in_file(f.target.c_str(), "PORT_NUMBER", f.port.c_str());
  for (const PageRow* row = kDefaultPages; row->mix != nullptr; ++row) {
    if (::strcasecmp(f.mix.c_str(), row->mix) == 0) {
      replace_in_file(f.target.c_str(), "DEFAULT_HTML_FILE", row->page);
      break;
    }
  }
  return 0;
}

}  // namespace postinstall
