// Builds the package, unpacks it into a scratch root (never the host's own
// root) and checks what an installation gives the administrator.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

namespace fs = std::filesystem;

// Runs a shell command with its standard error joined; its output is shown
// when it fails.
int shell(const std::string& command, std::string* output = nullptr) {
  ClientResult r = run_command(command + " 2>&1");
  if (output != nullptr) *output = r.output;
  if (r.status != 0) std::fprintf(stderr, "%s\n%s\n", command.c_str(), r.output.c_str());
  return r.status;
}

// The scratch root the package is unpacked into.
std::string root;

void check_layout() {
  for (const std::string& path : std::vector<std::string>{
           "/usr/bin/tavro", "/usr/bin/tavro-snmpd-bridge", "/usr/libexec/tavro/LtxPostInstall",
           "/usr/" TAVRO_LIB_DIR "/tavro/sim/libQFCMsgLib.so",
           "/usr/" TAVRO_LIB_DIR "/tavro/libprivagent.so",
           "/usr/" TAVRO_LIB_DIR "/tavro/libstdagent.so", "/usr/share/tavro/www/index.html",
           "/usr/share/tavro/www/adapter.gif", "/usr/share/tavro/www/ltx.html",
           "/usr/share/tavro/templates/tavro.conf", "/usr/lib/systemd/system/tavro.service",
           "/usr/lib/systemd/system/tavro-snmpd-bridge.service", "/usr/lib/sysusers.d/tavro.conf",
           "/etc/snmp/snmpd.conf.d/tavro.conf", "/etc/tavro", "/var/lib/tavro", "/var/log/tavro",
           "/DEBIAN/postinst"}) {
    EXPECT_TRUE(fs::exists(root + path)) << path;
  }
  // The daemon finds the real driver libraries by the system's search; the
  // simulator is not next to it.
  EXPECT_FALSE(fs::exists(root + "/usr/bin/libQFCMsgLib.so"));
}

void check_units() {
  // The units they name (basic.target, snmpd.service ...) come from the host.
  ASSERT_EQ(shell("cp -an /usr/lib/systemd/system/. " + root + "/usr/lib/systemd/system/"), 0);
  std::string output;
  EXPECT_EQ(shell("systemd-analyze verify --man=no --generators=no --root=" + root +
                      " /usr/lib/systemd/system/tavro.service"
                      " /usr/lib/systemd/system/tavro-snmpd-bridge.service",
                  &output),
            0);
  EXPECT_EQ(output.find("tavro"), std::string::npos) << output;
}

void check_post_install_and_start() {
  int port = free_port();
  std::string p = std::to_string(port);
  EXPECT_EQ(
      shell("DPKG_ROOT=" + root + " TAVRO_PORT=" + p + " " + root + "/DEBIAN/postinst configure"),
      0);
  std::string conf = read_file(root + "/etc/tavro/tavro.conf");
  EXPECT_NE(conf.find("Port          " + p + "\n"), std::string::npos) << conf;
  EXPECT_NE(conf.find("BaseDir       \"/usr/share/tavro/www\"\n"), std::string::npos);
  EXPECT_NE(conf.find("DefaultHtml   \"/usr/share/tavro/www/ltx.html\"\n"), std::string::npos);
  std::string page = read_file(root + "/usr/share/tavro/www/ltx.html");
  EXPECT_NE(page.find("answers on port " + p + ". Its pages are\nkept in /usr/share/tavro/www."),
            std::string::npos)
      << page;
  for (const char* word : {"HOME_DIR", "PORT_NUMBER", "DEFAULT_HTML_FILE"}) {
    EXPECT_EQ(conf.find(word), std::string::npos) << word;
    EXPECT_EQ(page.find(word), std::string::npos) << word;
  }

  // The filled configuration with the logs and pages of the scratch root.
  DaemonOptions o;
  o.program = root + "/usr/bin/tavro";
  o.add_port = false;
  o.port = port;
  std::string www = root + "/usr/share/tavro/www";
  o.args = {"-c",     root + "/etc/tavro/tavro.conf",
            "-log",   "requests.log",
            "-fclog", "events.log",
            "-base",  www,
            "-html",  www + "/ltx.html"};
  o.env = {{"TAVRO_LIBRARY_PATH", root + "/usr/" TAVRO_LIB_DIR "/tavro/sim"}};
  DaemonProcess d(o);
  EXPECT_EQ(request(port, "REV\n"), "3.3 Build 43");
  EXPECT_NE(request(port, "GET / HTTP/1.0\n").find("answers on port " + p), std::string::npos);
  EXPECT_EQ(request(port, "FCGET .1.3.6.1.4.1.48217.3.3.1.0\n"), "2");
  EXPECT_EQ(d.stop(), 0);
}

// A private snmpd reads the installed snippet, with its socket in a
// temporary folder and a group that exists on this host.
void check_snmpd_snippet() {
  std::string dir = make_temp_dir();
  std::string conf = read_file(root + "/etc/snmp/snmpd.conf.d/tavro.conf");
  for (auto [from, to] :
       {std::pair<std::string, std::string>{"/var/agentx/master", dir + "/master"},
        {" tavro\n", " daemon\n"}}) {
    ASSERT_NE(conf.find(from), std::string::npos) << from;
    conf.replace(conf.find(from), from.size(), to);
  }
  write_file(dir + "/snmpd.conf", conf);
  DaemonOptions o;
  o.program = "/usr/sbin/snmpd";
  o.add_port = o.wait_ready = false;
  o.working_dir = dir;
  o.args = {"-f", "-Lo",   "-C", "-c",  "snmpd.conf",
            "-I", "-smux", "-p", "pid", "udp:127.0.0.1:" + std::to_string(free_port())};
  o.env = {{"MIBS", ""}, {"MIBDIRS", dir}, {"SNMPCONFPATH", dir}, {"SNMP_PERSISTENT_DIR", dir}};
  DaemonProcess snmpd(o);
  ASSERT_TRUE(wait_for_text(dir + "/daemon.out", "NET-SNMP version"));
  std::string output = snmpd.output();
  EXPECT_NE(output.find("Turning on AgentX master support."), std::string::npos) << output;
  for (const char* complaint : {"Unknown token", "Can't identify", "rror"}) {
    EXPECT_EQ(output.find(complaint), std::string::npos) << output;
  }
  struct stat socket;
  ASSERT_EQ(::stat((dir + "/master").c_str(), &socket), 0);
  EXPECT_EQ(socket.st_mode & 0777, 0660u);
  EXPECT_EQ(socket.st_gid, ::getgrnam("daemon")->gr_gid);
  snmpd.stop();
}

TEST(Package, InstallsIntoAScratchRoot) {
  std::string dir = make_temp_dir();
  root = dir + "/root";
  std::string deb = dir + "/out/tavro_*.deb";
  ASSERT_EQ(
      shell("cd " + dir + " && cpack -G DEB --config " TAVRO_BUILD_DIR "/CPackConfig.cmake -B " +
            dir + "/out && dpkg-deb -x " + deb + " " + root + " && dpkg-deb -e " + deb + " " +
            root + "/DEBIAN"),
      0);
  check_layout();
  check_units();
  check_post_install_and_start();
  check_snmpd_snippet();
}

}  // namespace
}  // namespace tavro::testing
