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
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "linux/watch/netlink.h"

namespace qlinux::watch {
namespace {

// A uevent that calls for a look, and of which kind: a host's calls for its
// attributes that do not change to be read again.
enum class Uevent { none, host, other };

// The shortest time between two looks that FC transport events call for.
constexpr std::chrono::milliseconds kMinLookGap{100};

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
  // What the uevent read calls for.
  Uevent receive() {
    udev_device* device = udev_monitor_receive_device(monitor);
    if (!device) return Uevent::none;
    const char* action = udev_device_get_action(device);
    const char* subsystem = udev_device_get_subsystem(device);
    const char* type = udev_device_get_devtype(device);
    // A SCSI device is subsystem "scsi" with devtype "scsi_device".
    const std::string_view of =
        type && std::strcmp(type, "scsi_device") == 0 ? type : (subsystem ? subsystem : "");
    Uevent what = Uevent::none;
    if (uevent_needs_look(action ? action : "", of))
      what = of == "fc_host" ? Uevent::host : Uevent::other;
    udev_device_unref(device);
    return what;
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

Watcher::Watcher(sysfs::Model& model, Send send) : model_(model), send_(std::move(send)) {
  model_.refresh(true);
  last_ = look(model_);
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) return;
  model_.watched(true);
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

// However the watch ends, the model looks for itself again.
void Watcher::run() {
  watch();
  model_.watched(false);
}

void Watcher::watch() {
  Fd timer(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
  if (timer.fd < 0) return;
  itimerspec every_second{{1, 0}, {1, 0}};
  timerfd_settime(timer.fd, 0, &every_second, nullptr);

  const bool kernel = model_.root() == "/sys";
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
  auto last_look = std::chrono::steady_clock::now();
  auto look_now = [&](bool everything) {
    last_look = std::chrono::steady_clock::now();
    model_.refresh(everything);
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
        look_now(false);
      }
    }
    if (fds[2].revents) {
      const ssize_t n = recv(netlink.fd, datagram.data(), datagram.size(), 0);
      if (n > 0) {
        for (const FcEvent& e : parse_fc_events({datagram.data(), std::size_t(n)}))
          bounded(describe(e, last_));
        // A look at once, but not more often than kMinLookGap however fast
        // events come: the once-a-second look sees the rest.
        if (std::chrono::steady_clock::now() - last_look >= kMinLookGap) look_now(false);
      }
    }
    if (fds[3].revents) {
      const Uevent what = uevents->receive();
      if (what != Uevent::none) {
        model_.invalidate();  // requests wait for this look
        look_now(what == Uevent::host);
      }
    }
  }
}

}  // namespace qlinux::watch
