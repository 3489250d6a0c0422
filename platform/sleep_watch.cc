#include "platform/sleep_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace platform {
namespace {

constexpr char kLogind[] = "org.freedesktop.login1";
constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kManager[] = "org.freedesktop.login1.Manager";

}  // namespace

struct SleepWatch::Hook {
  static int on_signal(sd_bus_message* message, void* self, sd_bus_error* error);
};

SleepWatch::~SleepWatch() {
  stop();
}

int SleepWatch::connect() {
  const char* address = std::getenv("TAVRO_POWER_BUS");
  if (address == nullptr || *address == '\0') return sd_bus_open_system(&bus_);
  int r = sd_bus_new(&bus_);
  if (r < 0) return r;
  if ((r = sd_bus_set_address(bus_, address)) < 0 || (r = sd_bus_set_bus_client(bus_, 1)) < 0 ||
      (r = sd_bus_start(bus_)) < 0) {
    bus_ = sd_bus_unref(bus_);
  }
  return r;
}

int SleepWatch::start(Notice notice, const char* who) {
  if (bus_ != nullptr) return 0;
  notice_ = std::move(notice);
  who_ = who;
  int r = connect();
  if (r < 0) return r;
  r = sd_bus_match_signal(bus_, nullptr, kLogind, kPath, kManager, "PrepareForSleep",
                          Hook::on_signal, this);
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (r < 0 || wake_fd_ < 0) {
    stop();
    return r < 0 ? r : -errno;
  }
  take_lock();
  thread_ = std::thread([this] { run(); });
  return 0;
}

void SleepWatch::stop() {
  if (thread_.joinable()) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
    thread_.join();
  }
  release_lock();
  if (wake_fd_ >= 0) ::close(wake_fd_);
  wake_fd_ = -1;
  bus_ = sd_bus_flush_close_unref(bus_);
}

void SleepWatch::take_lock() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r =
      sd_bus_call_method(bus_, kLogind, kPath, kManager, "Inhibit", &error, &reply, "ssss", "sleep",
                         who_, "Close the adapter driver channel before sleep", "delay");
  int fd = -1;
  if (r >= 0) r = sd_bus_message_read(reply, "h", &fd);
  // The reply owns the descriptor it carries.
  if (r >= 0 && (lock_fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0) r = -errno;
  lock_status_ = r < 0 ? r : 0;
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
}

void SleepWatch::release_lock() {
  if (lock_fd_ >= 0) ::close(lock_fd_);
  lock_fd_ = -1;
}

int SleepWatch::Hook::on_signal(sd_bus_message* message, void* self, sd_bus_error*) {
  auto& watch = *static_cast<SleepWatch*>(self);
  int going_to_sleep = 0;
  if (sd_bus_message_read(message, "b", &going_to_sleep) < 0) return 0;
  watch.notice_(going_to_sleep != 0);
  if (going_to_sleep) {
    watch.release_lock();
  } else if (watch.lock_fd_ < 0) {
    watch.take_lock();
  }
  return 0;
}

void SleepWatch::run() {
  for (;;) {
    int r;
    while ((r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (r < 0) return;  // the bus went away
    std::uint64_t timeout = 0;
    sd_bus_get_timeout(bus_, &timeout);
    pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0},
                     {wake_fd_, POLLIN, 0}};
    int wait_ms = -1;
    if (timeout != UINT64_MAX) wait_ms = 100;  // a pending call; processing again is cheap
    if (::poll(fds, 2, wait_ms) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
  }
}

}  // namespace platform
