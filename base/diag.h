// Diagnostic output: every trace and error line of a program goes through one
// Diag. A line goes to the debugger output, and then either to the debug page
// being served or to standard output and the event log.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/net.h"

namespace tavro {

// Where trace and error lines are kept besides the debugger output: the
// event log takes each trace line as a debug record, the request log each
// error line.
class TraceSink {
 public:
  virtual void trace_line(const char* line) = 0;

 protected:
  ~TraceSink() = default;
};

class ErrorSink {
 public:
  virtual int write_line(const char* line) = 0;

 protected:
  ~ErrorSink() = default;
};

class Diag {
 public:
  static constexpr std::size_t kPrintBuffer = 1024;

  // debug_flags is the live Debug setting; it is read at every check.
  explicit Diag(const std::int32_t& debug_flags) : debug_(debug_flags) {}

  void attach_logs(TraceSink* events, ErrorSink* requests) {
    events_ = events;
    requests_ = requests;
  }

  std::uint32_t flags() const { return static_cast<std::uint32_t>(debug_); }
  bool on(std::uint32_t bits) const { return (flags() & bits) != 0; }

  int print(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void hexdump(const void* bytes, int count) const;
  // Prints and request-logs "<text> (error <errno>)".
  void report_error(const char* text) const;
  // report_error, then ends the process with status 1.
  [[noreturn]] void report_fatal(const char* text) const;

  // While a debug page is served, diagnostic text of every thread goes to its
  // socket. Once end_redirect returns, no more text reaches that socket.
  // Text sent to the page from any thread gives up at the deadline, so a
  // client that does not read holds no thread longer than that.
  void redirect_to(platform::socket_t page, std::chrono::steady_clock::time_point deadline) {
    std::lock_guard lock(page_mutex_);
    page_ = page;
    page_deadline_ = deadline;
    redirected_ = true;
  }
  void end_redirect() {
    std::lock_guard lock(page_mutex_);
    redirected_ = false;
  }
  // The SNMP agents have no debug page.
  void set_stdout(bool on) { stdout_ = on; }

 private:
  void emit(char* text, int length) const;
  void copy_to_events(char* text) const;
  bool emit_to_page(const char* text, int length) const;

  const std::int32_t& debug_;
  TraceSink* events_ = nullptr;
  ErrorSink* requests_ = nullptr;
  mutable std::mutex page_mutex_;
  bool redirected_ = false;
  platform::socket_t page_ = platform::kInvalidSocket;
  std::chrono::steady_clock::time_point page_deadline_;
  bool stdout_ = true;
};

}  // namespace tavro
