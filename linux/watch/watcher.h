// The watcher: one thread that looks at the FC transport once a second (and
// at once when a uevent says a host, remote port or SCSI device came or
// went), reads the kernel's FC transport events, and hands every change to
// send as a driver event. It does nothing else; the destructor stops it,
// joins it and closes every descriptor it opened.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "linux/watch/view.h"

namespace qlinux::watch {

// The watcher thread's name, as ps and top show it.
inline constexpr const char* kThreadName = "tavro-watch";

// At most this many events are sent per second; the rest are counted and
// told in one line at the next look.
inline constexpr int kMaxEventsPerSecond = 20;

// Whether a uevent's action on a subsystem calls for a look now.
bool uevent_needs_look(std::string_view action, std::string_view subsystem);

// Passes on at most kMaxEventsPerSecond changes between two ticks; tick()
// tells in one line how many were held back since the last.
class EventBound {
 public:
  using Send = std::function<void(const Change&)>;
  explicit EventBound(Send send) : send_(std::move(send)) {}
  void operator()(const Change& c);
  void tick();

 private:
  Send send_;
  int sent_ = 0;
  long held_ = 0;
};

class Watcher {
 public:
  using Send = std::function<void(const Change&)>;

  // Keeps model's view fresh while it runs: a look once a second and at
  // once after a uevent or an FC transport event; requests answer from the
  // latest look. model must outlive the watcher. The kernel's own sources
  // (the FC netlink socket and the uevent monitor) are used only for the
  // root "/sys", which is what they describe. The first look is taken before
  // the constructor returns: a change made after it is told.
  Watcher(sysfs::Model& model, Send send);
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  bool running() const { return thread_.joinable(); }

 private:
  void run();
  void watch();

  sysfs::Model& model_;
  Send send_;
  View last_;
  int stop_fd_ = -1;
  std::thread thread_;
};

}  // namespace qlinux::watch
