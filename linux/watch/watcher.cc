#include "linux/watch/watcher.h"

#include <libudev.h>
#include <linux/netlink.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "linux/watch/netlink.h"

namespace qlinux::watch {
namespace {

// Told once per process: the library stays loaded once loaded.
std::atomic<bool> g_no_netlink_told{false};

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

int open_fc_netlink() {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, fc_nl::kProtocol);
  if (fd < 0) return -errno;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = fc_nl::kGroup;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    return -error;
  }
  return fd;
}

struct UdevMonitor {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  UdevMonitor() {
    context = udev_new();
    if (context) monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor) return;
    for (const char* subsystem : {"fc_host", "fc_remote_ports", "scsi"})
      udev_monitor_filter_add_match_subsystem_devtype(monitor, subsystem, nullptr);
    if (udev_monitor_enable_receiving(monitor) < 0) monitor = udev_monitor_unref(monitor);
  }
  ~UdevMonitor() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
  }
  int fd() const { return monitor ? udev_monitor_get_fd(monitor) : -1; }
  // True when the uevent read calls for a look.
  bool receive() {
    udev_device* device = udev_monitor_receive_device(monitor);
    if (!device) return false;
    const char* action = udev_device_get_action(device);
    const char* subsystem = udev_device_get_subsystem(device);
    const char* type = udev_device_get_devtype(device);
    // A SCSI device is subsystem "scsi" with devtype "scsi_device".
    const bool look = uevent_needs_look(
        action ? action : "",
        type && std::strcmp(type, "scsi_device") == 0 ? type : (subsystem ? subsystem : ""));
    udev_device_unref(device);
    return look;
  }
};

}  // namespace

bool uevent_needs_look(std::string_view action, std::string_view subsystem) {
  return (action == "add" || action == "remove") &&
         (subsystem == "fc_host" || subsystem == "fc_remote_ports" || subsystem == "scsi_device");
}

void EventBound::operator()(const Change& c) {
  if (sent_ < kMaxEventsPerSecond) {
    ++sent_;
    send_(c);
  } else {
    ++held_;
  }
}

void EventBound::tick() {
  sent_ = 0;
  if (held_ == 0) return;
  send_(make_change(kWarning, std::to_string(held_) +
                                  " further FC events in the last second not shown "
                                  "(a port flapping?)"));
  held_ = 0;
  sent_ = 1;
}

Watcher::Watcher(std::string root, Send send)
    : root_(std::move(root)), send_(std::move(send)), model_(root_), last_(look(model_)) {
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) return;
  thread_ = std::thread([this] { run(); });
  pthread_setname_np(thread_.native_handle(), kThreadName);  // named before we return
}

Watcher::~Watcher() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    while (write(stop_fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  if (stop_fd_ >= 0) close(stop_fd_);
}

void Watcher::run() {
  Fd timer(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
  if (timer.fd < 0) return;
  itimerspec every_second{{1, 0}, {1, 0}};
  timerfd_settime(timer.fd, 0, &every_second, nullptr);

  const bool kernel = root_ == "/sys";
  Fd netlink(kernel ? open_fc_netlink() : -1);
  if (kernel && netlink.fd < 0 && !g_no_netlink_told.exchange(true)) {
    send_(make_change(kNotice, std::string("FC transport events: the kernel offers no netlink "
                                           "socket (") +
                                   std::strerror(-netlink.fd) +
                                   "); changes are seen in sysfs once a second"));
  }
  std::unique_ptr<UdevMonitor> uevents;
  if (kernel) uevents = std::make_unique<UdevMonitor>();

  EventBound bounded(send_);
  auto look_now = [&] {
    model_.refresh();  // the model's view is kept a second; this look reads the files
    View now = look(model_);
    for (const Change& c : diff(last_, now)) bounded(c);
    last_ = std::move(now);
  };

  std::vector<std::uint8_t> datagram(65536);
  while (true) {
    std::array<pollfd, 4> fds{{{stop_fd_, POLLIN, 0},
                               {timer.fd, POLLIN, 0},
                               {netlink.fd, POLLIN, 0},
                               {uevents ? uevents->fd() : -1, POLLIN, 0}}};
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (fds[1].revents) {
      std::uint64_t expirations;
      if (read(timer.fd, &expirations, sizeof expirations) > 0) {
        bounded.tick();
        look_now();
      }
    }
    if (fds[2].revents) {
      const ssize_t n = recv(netlink.fd, datagram.data(), datagram.size(), 0);
      if (n > 0) {
        for (const FcEvent& e : parse_fc_events({datagram.data(), std::size_t(n)}))
          bounded(describe(e, last_));
      }
    }
    if (fds[3].revents && uevents->receive()) look_now();
  }
}

}  // namespace qlinux::watch
