// The Debian package's files and maintainer scripts: built once, installed
// with dpkg --root into a scratch root (the maintainer scripts run chrootless
// against that root, never the host's), configured twice, upgraded with
// another port and purged; the installed daemon runs from that root with the
// simulated-adapters drop-in and with the Linux libraries. The services
// themselves, snmpd and apt are tested on a booted system by boot_test.sh.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

namespace fs = std::filesystem;

int shell(const std::string& command, std::string* output = nullptr) {
  ClientResult r = run_command(command + " 2>&1");
  if (output != nullptr) *output = r.output;
  if (r.status != 0) std::fprintf(stderr, "%s\n%s\n", command.c_str(), r.output.c_str());
  return r.status;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The value of the first "key=" or "key " line of a file.
std::string setting(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key, 0) == 0) return line.substr(line.find_first_not_of(" =", key.size()));
  }
  return "";
}

const std::string kHbaAdmin = "# the administrator's\nacme.vendor /opt/acme/libacme.so";

class Package : public ::testing::Test {
 protected:
  std::string dir = make_temp_dir(), root = dir + "/root";
  std::string lib = root + "/usr/" TAVRO_LIB_DIR "/tavro";

  int dpkg(const std::string& args, const std::string& port = "") {
    return shell((port.empty() ? "" : "TAVRO_PORT=" + port + " ") + "dpkg --root=" + root +
                 " --force-script-chrootless --force-depends --log=/dev/null " + args);
  }
  std::string file(const std::string& path) { return read_file(root + path); }

  void check_configured(const std::string& port) {
    EXPECT_EQ(setting(file("/etc/tavro/tavro.conf"), "Port"), port);
    EXPECT_TRUE(has(file("/var/lib/tavro/ltx.html"), "answers on port " + port + "."));
    std::string changed;
    EXPECT_EQ(shell("dpkg --root=" + root + " --verify tavro", &changed), 0);
    EXPECT_EQ(changed, "");
    EXPECT_EQ(file("/etc/hba.conf"), kHbaAdmin);  // libhbaapi2's, never written
    struct stat log {};
    ASSERT_EQ(::stat((root + "/var/log/tavro/tavro-requests.log").c_str(), &log), 0);
    EXPECT_EQ(log.st_uid, std::stoul(setting(replaced(file("/etc/passwd"), ":", " "), "tavro x")));
    EXPECT_EQ(log.st_mode & 07777, 0640u);
    EXPECT_TRUE(fs::is_directory(root + "/var/lib/tavro/registry"));
    EXPECT_TRUE(fs::is_regular_file(lib + "/libtavrohba.so"));
    EXPECT_EQ(setting(file("/etc/default/tavro-metrics"), "TAVRO_PORT"), port);
  }

  // The installed daemon as its unit runs it, with /var of the scratch root
  // in place of the host's (a private mount namespace).
  DaemonOptions installed(int port) {
    DaemonOptions o{.add_port = false, .port = port, .program = "/usr/bin/unshare"};
    o.args = {"-m", "sh", "-c",
              "mount --bind " + root + "/var /var && exec " + root + "/usr/bin/tavro -c " + root +
                  "/etc/tavro/tavro.conf -base " + root + "/usr/share/tavro/www"};
    return o;
  }
  // The Linux backend as installed: its default libraries over a sysfs tree.
  void exercise_linux(int port) {
    DaemonOptions o = installed(port);
    std::string sysfs = TAVRO_FIXTURES "/dual_port";
    o.env = {{"TAVRO_SYSFS_ROOT", sysfs}};
#ifdef __SANITIZE_ADDRESS__
    o.env.push_back({"TAVRO_LIBRARY_PATH", lib});  // the sanitizer's dlopen hides the run path
#endif
    DaemonProcess d(o);
    std::string wwn = read_file(sysfs + "/class/fc_host/host3/port_name").substr(2, 16);
    std::transform(wwn.begin(), wwn.end(), wwn.begin(), ::toupper);
    EXPECT_EQ(mismatches(port, {{"FCGET .1.3.6.1.4.1.48217.3.3.1.0\n", "1"},
                                {"FCGET .1.3.6.1.4.1.48217.3.3.4.1.2.pci0000:3b/dev00.0\n", wwn}}),
              "");
  }
  void exercise(int port);
};

// The daemon with the simulated-adapters drop-in, and the metrics timer's
// tavroctl reaching it on the port the package gave it.
void Package::exercise(int port) {
  std::string p = std::to_string(port), sim = lib + "/sim";
  std::string unit = file("/usr/lib/systemd/system/tavro.service");
  int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{.sun_family = AF_UNIX};
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/notify", dir.c_str());
  ::unlink(address.sun_path);
  ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval wait{10, 0};
  ::setsockopt(notify, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  DaemonOptions o = installed(port);
  std::string drop_in = file("/usr/share/tavro/simulated-adapters.conf");
  o.env = {{"TAVRO_LISTEN_ADDRESS", setting(unit, "Environment=TAVRO_LISTEN_ADDRESS")},
           {"TAVRO_LIBRARY_PATH", root + setting(drop_in, "Environment=TAVRO_LIBRARY_PATH")},
           {"NOTIFY_SOCKET", address.sun_path}};
  DaemonProcess d(o);
  char ready[512] = {};
  ::recv(notify, ready, sizeof ready - 1, 0);
  ::close(notify);
  EXPECT_EQ(std::string(ready), "READY=1\nSTATUS=Listening on 127.0.0.1:" + p +
                                    "; driver library " + sim + "/libQFCMsgLib.so; 2 adapters");
  EXPECT_EQ(mismatches(port, {{"REV\n", "3.3 Build 43"},
                              {"FCGET .1.3.6.1.4.1.48217.3.3.1.0\n", "2"},
                              {"HBAAPI 3.0\n", "2"},
                              {"FCGET .1.3.6.1.4.1.48217.2.1.3.1.1.0\n", "2048"}}),
            "");
  EXPECT_TRUE(has(request(port, "GET / HTTP/1.0\n"), "answers on port " + p + "."));
  request(port, "FCSET .1.3.6.1.4.1.48217.3.4.4.1.3.200000E08B010203 2\n");
  EXPECT_NE(run_command("nc -z -w 1 127.0.0.2 " + p).status, 0) << "listens beyond 127.0.0.1";
  EXPECT_TRUE(has(file("/var/log/tavro/tavro-events.log"),
                  "LXS NOTCE: Message Library loaded: " + sim + "/libQFCMsgLib.so\n"));

  // The installed logrotate rule, as root over the scratch root's logs.
  std::string rule = replaced(file("/etc/logrotate.d/tavro"), "/var/log", root + "/var/log");
  write_file(dir + "/logrotate.conf", replaced(rule, "tavro tavro", "root root"));
  ASSERT_EQ(shell("logrotate -f -s " + dir + "/logrotate.state " + dir + "/logrotate.conf"), 0);
  std::string log = root + "/var/log/tavro/tavro-requests.log";
  EXPECT_TRUE(has(read_file(log + ".1"), "FCSET"));  // the audit trail of writes
  std::string size = request(port, "LOGSIZE\n");
  EXPECT_EQ(size, std::to_string(fs::file_size(log)));
  std::string read = request(port, "LOGREAD 0 4096\n");
  EXPECT_EQ(read, read_file(log));
  EXPECT_TRUE(has(read_file(log), " - LOGSIZE\n")) << read_file(log);
  EXPECT_EQ(d.stop(), 0);
  // The stop's first halt marker goes to the rotated event log too.
  std::string events = file("/var/log/tavro/tavro-events.log");
  EXPECT_EQ(events.substr(20, 31), " LXS NOTCE: ***** Halted *****\n") << events;
}

TEST_F(Package, InstallConfigureTwiceUpgradeAndPurge) {
  std::string deb = dir + "/out/tavro_*.deb", next = dir + "/next";
  ASSERT_EQ(
      shell("cd " + dir + " && cpack -G DEB --config " TAVRO_BUILD_DIR "/CPackConfig.cmake -B " +
            dir + "/out >/dev/null && dpkg-deb -R " + deb + " " + next +
            " && sed -i 's/^Version: .*/&+1/' " + next + "/DEBIAN/control && dpkg-deb -b " + next +
            " " + dir + "/next.deb"),
      0);
  std::string lint;
  shell("lintian --tag-display-limit 0 " + deb, &lint);
  std::printf("lintian:\n%s", lint.c_str());
  EXPECT_FALSE(has("\n" + lint, "\nE: ") || has("\n" + lint, "\nW: ")) << lint;

  fs::create_directories(root + "/var/lib/dpkg/info");
  fs::create_directories(root + "/var/lib/dpkg/updates");
  fs::create_directories(root + "/etc/snmp");
  write_file(root + "/var/lib/dpkg/status", "");
  write_file(root + "/etc/hba.conf", kHbaAdmin);
  write_file(root + "/etc/snmp/snmpd.conf", "rocommunity private\n");
  ASSERT_EQ(dpkg("--unpack " + deb), 0);
  int first = free_port(), second = free_port();
  ASSERT_EQ(dpkg("--configure tavro", std::to_string(first)), 0);
  check_configured(std::to_string(first));
  std::string wants[] = {root + "/etc/systemd/system/multi-user.target.wants/tavro.service",
                         root + "/etc/systemd/system/timers.target.wants/tavro-metrics.timer"};
  for (auto& link : wants) EXPECT_TRUE(fs::is_symlink(link)) << link;
  exercise(first);
  exercise_linux(first);
  // The host's units and the shell the daemon's unit runs before it.
  ASSERT_EQ(shell("cp -an /usr/lib/systemd/system/. " + root + "/usr/lib/systemd/system/ && cp " +
                  "/bin/sh " + root + "/usr/bin/sh && ln -s usr/bin " + root + "/bin"),
            0);
  EXPECT_EQ(shell("systemd-analyze verify --man=no --generators=no --root=" + root + " $(cd " +
                  root + " && printf ' /%s' usr/lib/systemd/system/tavro*.*)"),
            0);
  for (std::string unit :
       {"tavro.service", "tavro-snmpd-bridge.service", "tavro-metrics.service"}) {
    std::string score;
    shell("systemd-analyze security --offline=yes --root=" + root + " " + unit, &score);
    std::size_t at = score.find("Overall exposure level for " + unit + ": ");
    ASSERT_NE(at, std::string::npos) << score;
    std::printf("%s", score.substr(at, score.find('\n', at) - at + 1).c_str());
    EXPECT_LE(std::stod(score.substr(at + 29 + unit.size())), 2.5) << score;
  }

  // Configured again after the administrator disabled the daemon and the timer.
  for (auto& link : wants) fs::remove(link);
  ASSERT_EQ(shell("DPKG_ROOT=" + root + " " + root +
                  "/var/lib/dpkg/info/tavro.postinst configure 3.3.43"),
            0);
  check_configured(std::to_string(first));
  for (auto& link : wants) EXPECT_FALSE(fs::is_symlink(link)) << link;
  // TAVRO_PORT's bounds: 0 and one past the last port are refused, the last one is taken.
  for (auto [port, refused] : {std::pair{"0", true}, {"65536", true}, {"65535", false}}) {
    EXPECT_EQ(shell(std::string("TAVRO_PORT=") + port + " DPKG_ROOT=" + root + " " + root +
                    "/var/lib/dpkg/info/tavro.postinst configure 3.3.43") != 0,
              refused)
        << port;
  }
  EXPECT_EQ(setting(file("/etc/tavro/tavro.conf"), "Port"), "65535");

  // Upgraded with another port after the administrator masked the daemon.
  std::string mask = root + "/etc/systemd/system/tavro.service";
  fs::create_symlink("/dev/null", mask);
  ASSERT_EQ(dpkg("-i " + dir + "/next.deb", std::to_string(second)), 0);
  check_configured(std::to_string(second));
  for (auto& link : wants) EXPECT_FALSE(fs::is_symlink(link)) << link;
  EXPECT_EQ(fs::read_symlink(mask), "/dev/null");

  // The metrics the timer wrote for node_exporter go with the package.
  fs::create_directories(root + "/var/lib/prometheus/node-exporter");
  write_file(root + "/var/lib/prometheus/node-exporter/tavro.prom", "tavro_up 1\n");
  ASSERT_EQ(dpkg("--purge tavro"), 0);
  for (const char* gone :
       {"/var/lib/tavro", "/var/log/tavro", "/etc/tavro", "/usr/bin/tavro",
        "/etc/snmp/snmpd.conf.d/tavro.conf", "/etc/logrotate.d/tavro", "/etc/default/tavro-metrics",
        "/var/lib/prometheus/node-exporter/tavro.prom",
        "/etc/systemd/system/tavro-snmpd-bridge.service"}) {
    EXPECT_FALSE(fs::exists(root + gone)) << gone;
  }
  EXPECT_EQ(file("/etc/hba.conf"), kHbaAdmin);
  EXPECT_EQ(file("/etc/snmp/snmpd.conf"), "rocommunity private\n");
}

}  // namespace
}  // namespace tavro::testing
