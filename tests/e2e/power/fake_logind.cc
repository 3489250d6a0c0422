// A stand-in for systemd-logind on a private bus: owns its name, hands out
// inhibitor locks and emits PrepareForSleep(true) on SIGUSR1, (false) on
// SIGUSR2.
//
// Writes "ready", then "lock <what> <who> <mode>" for each lock handed out and
// "released" when the holder closes one. As the machine would sleep then, the
// holder is stopped at that moment, and continued before the wake-up signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace {

sd_bus* bus = nullptr;
pid_t holder = 0;

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
  sd_bus_creds* creds = nullptr;
  if (r >= 0 && sd_bus_query_sender_creds(call, SD_BUS_CREDS_PID, &creds) >= 0) {
    sd_bus_creds_get_pid(creds, &holder);
    sd_bus_creds_unref(creds);
  }
  int ends[2];
  if (r < 0 || ::pipe2(ends, O_CLOEXEC) != 0) return r < 0 ? r : -errno;
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

int on_signal(sd_event_source*, const signalfd_siginfo* info, void*) {
  int sleeping = info->ssi_signo == SIGUSR1;
  if (!sleeping && holder > 0) ::kill(holder, SIGCONT);
  return sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                            "PrepareForSleep", "b", sleeping);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  sd_event* event = nullptr;
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGUSR1);
  sigaddset(&mask, SIGUSR2);
  if (argc != 2 || sigprocmask(SIG_BLOCK, &mask, nullptr) != 0 || sd_event_default(&event) < 0 ||
      sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, argv[1]) < 0 ||
      sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0 ||
      sd_bus_attach_event(bus, event, 0) < 0 ||
      sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", kVtable, nullptr) < 0 ||
      sd_bus_request_name(bus, "org.freedesktop.login1", 0) < 0 ||
      sd_event_add_signal(event, nullptr, SIGUSR1, on_signal, nullptr) < 0 ||
      sd_event_add_signal(event, nullptr, SIGUSR2, on_signal, nullptr) < 0) {
    return 2;
  }
  std::puts("ready");
  return sd_event_loop(event) < 0 ? 3 : 0;
}
