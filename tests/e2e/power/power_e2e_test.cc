// Sleep and wake-up through a private D-Bus: a stand-in logind emits
// PrepareForSleep, hands out the daemon's inhibitor locks and stops the
// daemon when it lets go of its lock, as the machine would go to sleep.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

// A program with its standard input and output on pipes.
class Piped {
 public:
  explicit Piped(std::vector<std::string> argv) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      std::vector<char*> words;
      for (auto& w : argv) words.push_back(w.data());
      words.push_back(nullptr);
      ::execvp(words[0], words.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Piped() {
    ::close(to_);
    ::close(from_);
    if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0) ::waitpid(pid_, nullptr, 0);
  }
  void say(const std::string& line) {
    std::string text = line + "\n";
    EXPECT_EQ(::write(to_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // The next line of output, or "" after the time-out.
  std::string line(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::string text;
    char c;
    pollfd p{from_, POLLIN, 0};
    while (::poll(&p, 1, static_cast<int>(timeout.count())) > 0 && ::read(from_, &c, 1) == 1) {
      if (c == '\n') return text;
      text += c;
    }
    return "";
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
};

// A bus of its own: dbus-daemon with a configuration in a temporary folder.
struct PrivateBus {
  std::string dir = make_temp_dir();
  std::string address = "unix:path=" + dir + "/bus";
  std::unique_ptr<Piped> daemon;

  PrivateBus() {
    write_file(
        dir + "/bus.conf",
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>tavro-test</type><listen>" +
            address +
            "</listen>"
            "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
            "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
            "</policy></busconfig>\n");
    daemon = std::make_unique<Piped>(std::vector<std::string>{
        "dbus-daemon", "--nofork", "--print-address", "--config-file=" + dir + "/bus.conf"});
    EXPECT_EQ(daemon->line().rfind(address, 0), 0u) << "no bus";
  }
};

std::string events(const DaemonProcess& d) {
  return read_file(d.dir() + "/events.log");
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

const std::string kAdapterCount = "FCGET .1.3.6.1.4.1.48217.3.3.1.0\n";

DaemonOptions power_daemon(const std::string& bus) {
  DaemonOptions o;
  o.args = {"-fcget", "enabled", "-fclog", "events.log", "-fclo", "2", "-fclf", "0x1F"};
  o.env = {{"TAVRO_POWER_BUS", bus}};
  return o;
}

TEST(PowerEvents, SleepClosesTheChannelBeforeTheLockIsReleased) {
  PrivateBus bus;
  Piped logind({binary_dir() + "/fake_logind", bus.address});
  ASSERT_EQ(logind.line(), "ready");
  DaemonProcess d(power_daemon(bus.address));
  EXPECT_EQ(logind.line(), "lock sleep tavro delay");
  EXPECT_EQ(request(d.port(), kAdapterCount), "2");

  logind.say("sleep");
  ASSERT_EQ(logind.line(), "released");
  std::string log = events(d);
  EXPECT_EQ(count(log, "LXS NOTCE: Driver state changed to STANDBY.\n"), 1);
  EXPECT_LT(log.find("Driver state changed to STANDBY."), log.rfind("LXS DEBUG: qdn_close\n"));

  // Awake again: ready, and the next request opens the channel.
  logind.say("wake");
  EXPECT_EQ(logind.line(), "lock sleep tavro delay");
  log = events(d);
  EXPECT_EQ(count(log, "LXS NOTCE: Driver state changed to READY.\n"), 1);
  EXPECT_EQ(count(log, "LXS NOTCE: Registration completed\n"), 1);
  EXPECT_EQ(request(d.port(), kAdapterCount), "2");
  EXPECT_EQ(count(events(d), "LXS NOTCE: Registration completed\n"), 2);
  EXPECT_EQ(d.stop(), 0);
}

TEST(PowerEvents, NoBusIsLoggedOnceAndTheDaemonServes) {
  std::string nowhere = "unix:path=" + make_temp_dir() + "/no-bus";
  DaemonProcess d(power_daemon(nowhere));
  EXPECT_EQ(request(d.port(), "REV\n").empty(), false);
  ASSERT_TRUE(wait_for_text(d.dir() + "/events.log", "power events will not be seen"));
  EXPECT_EQ(count(events(d), "LXS WARNG: No system bus: power events will not be seen - error("),
            1);
  EXPECT_EQ(d.stop(), 0);
}

}  // namespace
}  // namespace tavro::testing
