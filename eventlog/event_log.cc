#include "eventlog/event_log.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "base/diag.h"
#include "eventlog/log_files.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTraceBit = 0x200000;
constexpr std::size_t kStampLength = 20;

const char* source_tag(int source) {
  switch (source) {
    case kSourceLxs:
      return "LXS";
    case kSourceDrv:
      return "DRV";
    case kSourceFms:
      return "FMS";
    default:
      return "***";
  }
}

const char* level_name(int level) {
  switch (level) {
    case kLevelAlarm:
      return "ALARM";
    case kLevelError:
      return "ERROR";
    case kLevelWarning:
      return "WARNG";
    case kLevelNotice:
      return "NOTCE";
    case kLevelDebug:
      return "DEBUG";
    default:
      return "*****";
  }
}

// Formats into a record buffer, cutting the text so that the record keeps its
// line end within kRecordMax characters.
std::size_t format_record(char (&out)[kRecordMax + 1], int source, int level, const char* text,
                          int error) {
  Timestamp stamp = log_timestamp();
  int n = std::snprintf(out, sizeof out, "%s %s %s: %s", stamp.text, source_tag(source),
                        level_name(level), text);
  std::size_t len = n < 0 ? 0 : static_cast<std::size_t>(n);
  if (error != -1 && len < kRecordMax) {
    int m = std::snprintf(out + len, sizeof out - len, " - error(%d)", error);
    len += m < 0 ? 0 : static_cast<std::size_t>(m);
  }
  if (len > kRecordMax - 1) len = kRecordMax - 1;
  out[len++] = '\n';
  out[len] = '\0';
  return len;
}

}  // namespace

// Holds the re-entry guard for lifecycle operations, waiting for a writer on
// another thread to finish first.
class EventLog::Guard {
 public:
  explicit Guard(std::atomic_flag& flag) : flag_(flag) {
    while (flag_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  ~Guard() { flag_.clear(std::memory_order_release); }

 private:
  std::atomic_flag& flag_;
};

EventLog::~EventLog() {
  if (fd_.load() >= 0) ::close(fd_.load());
}

bool EventLog::tracing() const {
  return diag_ != nullptr && diag_->on(kTraceBit);
}

void EventLog::open() {
  open_with(false);
}

void EventLog::open_for_append() {
  open_with(true);
}

// The configured mode (truncate, rotate) applies to the first open of the
// run only: a reopen after a close must not throw away what this run wrote.
// An open for appending writes no start marker.
// The open trace is printed with the log open and unguarded, so that it
// reaches the log itself like any other diagnostic line.
void EventLog::open_with(bool append) {
  int fd = -1;
  {
    Guard guard(busy_);
    if (settings_.path == nullptr || *settings_.path == '\0' || fd_ >= 0 || settings_.flags == 0) {
      return;
    }
    int mode = append || opened_before_ ? kOpenAppend : settings_.open_mode;
    fd = lxs_fopen(settings_.path, mode, diag_);
    if (fd < 0) return;
    fd_ = fd;
    opened_before_ = true;
  }
  if (tracing()) {
    diag_->print("FCLOG: open() fn=%s fd=0x%x flg=0x%x\n", settings_.path, fd,
                 static_cast<unsigned>(settings_.flags));
  }
  Guard guard(busy_);
  if (!append) write_locked(kSourceLxs, kLevelNotice, "***** Started *****", -1);
  repeats_ = 0;
  last_[0] = '\0';
}

int EventLog::write(int source, int level, const char* text, int error) {
  if (fd_ < 0) return 0;
  if (busy_.test_and_set(std::memory_order_acquire)) return 0;
  int result = write_locked(source, level, text, error);
  busy_.clear(std::memory_order_release);
  return result;
}

int EventLog::write_locked(int source, int level, const char* text, int error) {
  if (fd_ < 0) return 0;
  if (level != 0 && (level & settings_.flags) == 0) return 0;
  char record[kRecordMax + 1];
  std::size_t len = format_record(record, source, level, text, error);
  if (last_[0] != '\0' && std::strcmp(record + kStampLength, last_ + kStampLength) == 0) {
    ++repeats_;
    if (tracing()) diag_->print("FCLOG: repeat() cnt=%d\n", repeats_);
    return static_cast<int>(len);
  }
  fd_ = follow_renamed(fd_, settings_.path);
  write_repeat_summary();
  repeats_ = 1;
  std::memcpy(last_, record, len + 1);
  if (tracing()) diag_->print("FCLOG: append() %s", record);
  write_all(fd_, record, len);
  return static_cast<int>(len);
}

void EventLog::write_repeat_summary() {
  if (repeats_ <= 1) return;
  char line[128];
  int n = std::snprintf(line, sizeof line, "%s *** *****: Last message repeated %d times.\n",
                        log_timestamp().text, repeats_);
  if (tracing()) diag_->print("FCLOG: repeat() %s", line);
  write_all(fd_, line, static_cast<std::size_t>(n));
}

void EventLog::flush() {
  Guard guard(busy_);
  if (fd_.load() >= 0) ::fsync(fd_.load());
}

// The flush trace still reaches the log; the close trace comes after it.
void EventLog::close() {
  int fd = -1;
  {
    Guard guard(busy_);
    if (fd_ < 0) return;
    write_locked(kSourceLxs, kLevelNotice, "***** Halted *****", -1);
    fd = fd_;
    ::fsync(fd);
  }
  if (tracing()) diag_->print("FCLOG: flush() fn=%s fd=0x%x\n", settings_.path, fd);
  {
    Guard guard(busy_);
    if (fd_ != fd) return;
    ::fsync(fd);
    fd_ = -1;
    ::close(fd);
  }
  if (tracing()) diag_->print("FCLOG: close() fn=%s fd=0x%x\n", settings_.path, fd);
}

void EventLog::settle_repeats() {
  Guard guard(busy_);
  if (fd_ < 0) return;
  write_repeat_summary();
  repeats_ = 0;
  last_[0] = '\0';
  ::fsync(fd_);
}

}  // namespace tavro
