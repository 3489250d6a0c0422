#include "tavroctl/fabric.h"

#include <netdb.h>
#include <netinet/in.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sysfs/parse.h"

namespace tavroctl {

const FpinKind kFpinKinds[3] = {
    {"link_integrity", "FPIN LI", &sysfs::FpinCounts::link_integrity,
     "Link integrity notifications from the fabric."},
    {"congestion", "FPIN CN", &sysfs::FpinCounts::congestion,
     "Congestion and peer congestion notifications from the fabric."},
    {"delivery", "FPIN DN", &sysfs::FpinCounts::delivery,
     "Delivery notifications from the fabric."},
};

namespace {

namespace fs = std::filesystem;

// No more entries of a class folder than the adapters' ports and remote
// ports can be; a tree of more is not walked to its end.
constexpr int kMaxEntries = 8 * 8 * 1024;

// A port_name file's WWN as tavroctl writes it, or "" (also for a file too
// long to be one).
std::string wwn_file(const fs::path& path) {
  std::ifstream in(path);
  char text[40];
  in.read(text, sizeof text);
  if (in.gcount() == sizeof text) return "";
  std::string_view value(text, static_cast<std::size_t>(in.gcount()));
  if (value.ends_with('\n')) value.remove_suffix(1);
  const auto wwn = sysfs::parse_wwn(value);
  if (!wwn) return "";
  char out[17];
  std::snprintf(out, sizeof out, "%016llX", static_cast<unsigned long long>(*wwn));
  return out;
}

// The number after the prefix, up to the first character not a digit.
std::optional<unsigned> number_after(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return std::nullopt;
  unsigned n = 0;
  const char* first = name.data() + prefix.size();
  auto [end, ec] = std::from_chars(first, name.data() + name.size(), n);
  return ec == std::errc{} && end != first ? std::optional(n) : std::nullopt;
}

template <typename Visit>
void each_entry(const std::string& folder, Visit visit) {
  std::error_code error;
  int seen = 0;
  for (fs::directory_iterator it(folder, error), end; !error && it != end && seen < kMaxEntries;
       it.increment(error), ++seen)
    visit(it->path());
}

}  // namespace

bool is_loopback(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
  bool loopback = found != nullptr;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET)
      loopback &=
          (ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr) >> 24) == 127;
    else
      loopback &=
          a->ai_family == AF_INET6 &&
          IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr);
  }
  ::freeaddrinfo(found);
  return loopback;
}

void attach_fpin(std::vector<Adapter>& adapters, const std::string& root) {
  std::vector<std::pair<unsigned, Port*>> hosts;
  each_entry(root + "/class/fc_host", [&](const fs::path& path) {
    const auto number = number_after(path.filename().string(), "host");
    const std::string wwn = wwn_file(path / "port_name");
    for (Adapter& a : adapters)
      for (Port& p : a.ports)
        if (number && !wwn.empty() && p.wwn == wwn) {
          p.fpin = sysfs::host_fpin(root, *number);
          hosts.emplace_back(*number, &p);
        }
  });
  // "rport-<host>:<channel>-<number>"
  each_entry(root + "/class/fc_remote_ports", [&](const fs::path& path) {
    const std::string name = path.filename().string();
    const auto number = number_after(name, "rport-");
    for (auto& [host, port] : hosts)
      if (number == host)
        if (std::string wwn = wwn_file(path / "port_name"); !wwn.empty())
          port->remote_fpin[wwn] = sysfs::remote_port_fpin(root, name);
  });
}

sysfs::FpinCounts remote_fpin(const Adapter& a, const RemotePort& rp) {
  const sysfs::FpinCounts* found = nullptr;
  int paths = 0;
  for (const Port& p : a.ports) {
    auto it = p.remote_fpin.find(rp.wwn);
    if (it != p.remote_fpin.end() && (rp.via.empty() || rp.via == p.wwn)) {
      found = &it->second;
      ++paths;
    }
  }
  return paths == 1 ? *found : sysfs::FpinCounts{};
}

}  // namespace tavroctl
