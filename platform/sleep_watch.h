// Sleep and wake-up notices from systemd-logind over D-Bus: a "delay" sleep
// inhibitor lock held while awake, and the PrepareForSleep signal.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

struct sd_bus;

namespace platform {

class SleepWatch {
 public:
  // Called on the watch's own thread: true before the machine sleeps, false
  // after it woke up. On true the lock is released when the call returns; on
  // false a new one is taken after it.
  using Notice = std::function<void(bool going_to_sleep)>;

  SleepWatch() = default;
  ~SleepWatch();
  SleepWatch(const SleepWatch&) = delete;
  SleepWatch& operator=(const SleepWatch&) = delete;

  // Connects to the bus named by TAVRO_POWER_BUS (a D-Bus address), or else
  // to the system bus, subscribes to PrepareForSleep, takes the lock and
  // starts the thread. 0, or a negative errno when there is no bus.
  int start(Notice notice, const char* who);
  void stop();
  // 0 once a lock was taken, else the negative errno of the last attempt.
  int lock_status() const { return lock_status_.load(); }

 private:
  struct Hook;
  int connect();
  void take_lock();
  void release_lock();
  void run();

  sd_bus* bus_ = nullptr;
  Notice notice_;
  const char* who_ = "";
  int lock_fd_ = -1;
  int wake_fd_ = -1;
  std::atomic<int> lock_status_{0};
  std::thread thread_;
};

}  // namespace platform
