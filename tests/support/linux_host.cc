#include "tests/support/linux_host.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tavro::testing {

namespace fs = std::filesystem;

std::string sysfs_fixture(const std::string& name) {
  std::string dir = make_temp_dir() + "/" + name;
  fs::copy(std::string(TAVRO_SOURCE_DIR) + "/tests/fixtures/sysfs/" + name, dir,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  return dir;
}

std::string no_namespace() {
  if (std::system("/sbin/ldconfig -p | grep -q 'libHBAAPI\\.so\\.2 '") != 0)
    return "libHBAAPI.so.2 (libhbaapi2) is not installed";
  if (::geteuid() != 0 || std::system("unshare -m true 2>/dev/null") != 0)
    return "no private mount namespace (needs root)";
  return "";
}

std::vector<std::string> in_namespace(const std::string& command) {
  std::string conf = make_temp_dir() + "/hba.conf";
  write_file(conf, "org.tavro.linux " + binary_dir() + "/linux/libtavrohba.so\n");
  return {"-m",      "--propagation",
          "private", "sh",
          "-c",      "mount --bind '" + conf + "' /etc/hba.conf && exec " + command};
}

DaemonOptions linux_daemon(const std::string& root) {
  DaemonOptions o{
      .env = {{"TAVRO_SYSFS_ROOT", root}, {"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}}};
  std::string program = make_temp_dir() + "/tavro";
  fs::copy_file(binary_dir() + "/tavro", program);
  o.add_port = false;
  o.port = free_port();
  o.program = "/usr/bin/unshare";
  o.args =
      in_namespace("'" + program + "' -api enabled -fcget enabled -port " + std::to_string(o.port));
  return o;
}

}  // namespace tavro::testing
