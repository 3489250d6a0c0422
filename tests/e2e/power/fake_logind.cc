// A stand-in for systemd-logind on a private bus: owns its name, hands out
// inhibitor locks and emits PrepareForSleep on command.
//
// Reads "sleep" and "wake" lines on standard input; writes "ready", then
// "lock <what> <who> <mode>" for each lock handed out and "released" when the
// holder closes one. As the machine would sleep then, the holder is stopped
// at that moment, and continued before the wake-up signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kManager[] = "org.freedesktop.login1.Manager";

sd_bus* bus = nullptr;
pid_t holder = 0;
char command[64];
std::size_t command_length = 0;

int on_released(sd_event_source* source, int fd, std::uint32_t, void*) {
  if (holder > 0) ::kill(holder, SIGSTOP);
  std::puts("released");
  sd_event_source_unref(source);
  ::close(fd);
  return 0;
}

int inhibit(sd_bus_message* call, void*, sd_bus_error*) {
  const char *what, *who, *why, *mode;
  int r = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode);
  if (r < 0) return r;
  sd_bus_creds* creds = nullptr;
  if (sd_bus_query_sender_creds(call, SD_BUS_CREDS_PID, &creds) >= 0) {
    sd_bus_creds_get_pid(creds, &holder);
    sd_bus_creds_unref(creds);
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -errno;
  sd_event_add_io(sd_bus_get_event(bus), nullptr, ends[0], EPOLLHUP, on_released, nullptr);
  r = sd_bus_reply_method_return(call, "h", ends[1]);
  ::close(ends[1]);
  std::printf("lock %s %s %s\n", what, who, mode);
  return r;
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("PrepareForSleep", "b", 0),
    SD_BUS_VTABLE_END,
};

void run_command() {
  if (std::strcmp(command, "sleep") == 0 || std::strcmp(command, "wake") == 0) {
    int sleeping = std::strcmp(command, "sleep") == 0;
    if (!sleeping && holder > 0) ::kill(holder, SIGCONT);
    sd_bus_emit_signal(bus, kPath, kManager, "PrepareForSleep", "b", sleeping);
  }
}

int on_input(sd_event_source*, int fd, std::uint32_t, void*) {
  char c;
  ssize_t n = ::read(fd, &c, 1);
  if (n <= 0) return sd_event_exit(sd_bus_get_event(bus), 0);
  if (c != '\n') {
    if (command_length + 1 < sizeof command) command[command_length++] = c;
    return 0;
  }
  command[command_length] = '\0';
  command_length = 0;
  run_command();
  return 0;
}

// A holder still stopped when the test ends runs on, so that it can be ended.
int on_term(sd_event_source*, const signalfd_siginfo*, void*) {
  if (holder > 0) ::kill(holder, SIGCONT);
  return sd_event_exit(sd_bus_get_event(bus), 0);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  sd_event* event = nullptr;
  if (argc != 2 || sd_event_default(&event) < 0 || sd_bus_new(&bus) < 0) return 2;
  if (sd_bus_set_address(bus, argv[1]) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0 || sd_bus_attach_event(bus, event, 0) < 0) {
    return 3;
  }
  if (sd_bus_add_object_vtable(bus, nullptr, kPath, kManager, kVtable, nullptr) < 0 ||
      sd_bus_request_name(bus, "org.freedesktop.login1", 0) < 0 ||
      sd_event_add_io(event, nullptr, STDIN_FILENO, EPOLLIN, on_input, nullptr) < 0) {
    return 4;
  }
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &term, nullptr) != 0 ||
      sd_event_add_signal(event, nullptr, SIGTERM, on_term, nullptr) < 0) {
    return 5;
  }
  std::puts("ready");
  int r = sd_event_loop(event);
  sd_bus_flush_close_unref(bus);
  sd_event_unref(event);
  return r < 0 ? 6 : 0;
}
