// The request log: one time-stamped line per noted request, plus the
// program's start, stop and error lines. Every line is committed to disk.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

#include "eventlog/event_log.h"
#include "platform/net.h"

namespace tavro {

class RequestLog final : public ErrorSink {
 public:
  RequestLog(LogSettings settings, const Diag* diag) : settings_(settings), diag_(diag) {}
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;
  ~RequestLog();

  // Opens the file once with the configured mode and writes start_text raw
  // when LogFlags bit 0x1 is set. Returns 0, or 1 when it could not be opened.
  int open(const char* start_text);
  int write_raw(const char* text);
  // Writes "<timestamp>: <text>" and commits; -1 when the log is closed.
  int write_line(const char* text) override;
  // Notes a request with the client's name (Debug bit 0x8 also prints it, and
  // builds the note even when the log is closed).
  void note_request(platform::socket_t peer, const char* request);
  void close();

  bool is_open() const { return fd_.load() >= 0; }
  const char* path() const { return settings_.path; }
  std::int32_t flags() const { return settings_.flags; }

 private:
  LogSettings settings_;
  const Diag* diag_;
  std::mutex mutex_;
  std::atomic<int> fd_{-1};
};

// Builds the note text for a request into out (at most kRecordMax characters,
// always ending in a line feed).
void format_request_note(platform::socket_t peer, const char* request, char* out, std::size_t cap);

}  // namespace tavro
