// The event log: time-stamped records with a source and a level, filtered by
// the level mask and with repeated records counted instead of written.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/diag.h"

namespace tavro {

inline constexpr int kSourceLxs = 1;
inline constexpr int kSourceDrv = 2;
inline constexpr int kSourceFms = 3;

inline constexpr int kLevelAlarm = 1;
inline constexpr int kLevelError = 2;
inline constexpr int kLevelWarning = 4;
inline constexpr int kLevelNotice = 8;
inline constexpr int kLevelDebug = 16;

inline constexpr std::size_t kRecordMax = 255;

// A log file's settings, read live from the program's settings.
struct LogSettings {
  const char* path;
  const std::int32_t& open_mode;
  const std::int32_t& flags;
};

class EventLog final : public TraceSink {
 public:
  EventLog(LogSettings settings, const Diag* diag) : settings_(settings), diag_(diag) {}
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;
  ~EventLog();

  // Opens the file and writes the start marker. The configured open mode
  // applies to the first open; later opens append.
  void open();
  // Opens an existing file for appending, without a start marker.
  void open_for_append();
  // Returns the characters handled, 0 when nothing was done (closed, filtered
  // out, or another thread is writing).
  int write(int source, int level, const char* text, int error = -1);
  // A trace line of the program's diagnostics: a debug record.
  void trace_line(const char* line) override { write(kSourceLxs, kLevelDebug, line); }
  void flush();
  // Writes the halt marker, commits and closes.
  void close();
  // Writes a pending repeat summary, forgets the last record and commits.
  void settle_repeats();

  bool is_open() const { return fd_.load() >= 0; }
  const char* path() const { return settings_.path; }

 private:
  class Guard;
  void open_with(bool append);
  int write_locked(int source, int level, const char* text, int error);
  void write_repeat_summary();
  bool tracing() const;

  LogSettings settings_;
  const Diag* diag_;
  std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
  std::atomic<int> fd_{-1};
  char last_[kRecordMax + 1] = {};
  int repeats_ = 0;
  bool opened_before_ = false;
};

}  // namespace tavro
