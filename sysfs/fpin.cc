#include "sysfs/fpin.h"

#include <fstream>

#include "sysfs/parse.h"

namespace sysfs {
namespace {

std::optional<std::uint64_t> counter(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  return parse_counter(text);
}

FpinCounts read_counts(const std::string& statistics) {
  return {counter(statistics + "/fpin_li"), counter(statistics + "/fpin_cn"),
          counter(statistics + "/fpin_dn")};
}

}  // namespace

FpinCounts host_fpin(const std::string& root, unsigned number) {
  return read_counts(root + "/class/fc_host/host" + std::to_string(number) + "/statistics");
}

FpinCounts remote_port_fpin(const std::string& root, const std::string& name) {
  return read_counts(root + "/class/fc_remote_ports/" + name + "/statistics");
}

}  // namespace sysfs
