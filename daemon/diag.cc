#include "daemon/diag.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eventlog/event_log.h"
#include "eventlog/request_log.h"
#include "platform/debug_output.h"

namespace tavro {

int Diag::print(const char* format, ...) const {
  char text[kPrintBuffer + 1];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return n;
  int length = n < static_cast<int>(kPrintBuffer) ? n : static_cast<int>(kPrintBuffer);
  text[length] = '\0';
  emit(text, length);
  return length;
}

bool Diag::emit_to_page(const char* text, int length) const {
  static constexpr char kOpen[] = "<font color=#0000C0>  ";
  static constexpr char kClose[] = "</font>";
  std::lock_guard lock(page_mutex_);
  if (!redirected_) return false;
  platform::send_bytes(page_, kOpen, sizeof kOpen - 1);
  platform::send_bytes(page_, text, static_cast<std::size_t>(length));
  platform::send_bytes(page_, kClose, sizeof kClose - 1);
  if (length > 0 && text[length - 1] != '\n') platform::send_bytes(page_, "\n", 1);
  return true;
}

void Diag::emit(char* text, int length) const {
  platform::debug_output(text);
  if (emit_to_page(text, length)) return;
  if (stdout_ && length > 0) {
    [[maybe_unused]] ssize_t ignored =
        ::write(STDOUT_FILENO, text, static_cast<std::size_t>(length));
  }
  if (events_ != nullptr) {
    if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
    events_->write(kSourceLxs, kLevelDebug, text);
  }
}

void Diag::hexdump(const void* bytes, int count) const {
  static constexpr char kRule[] = "=========================================================\n";
  const auto* data = static_cast<const unsigned char*>(bytes);
  print("%s", kRule);
  for (int start = 0; start < count; start += 16) {
    char line[128];
    int len = std::snprintf(line, sizeof line, "%p: ", static_cast<const void*>(data + start));
    for (int i = 0; i < 16; ++i) {
      if (start + i < count) {
        len += std::snprintf(line + len, sizeof line - len, "%02x ", data[start + i]);
      } else {
        len += std::snprintf(line + len, sizeof line - len, "   ");
      }
    }
    for (int i = 0; i < 16; ++i) {
      char c = ' ';
      if (start + i < count) {
        unsigned char b = data[start + i];
        c = (b >= 32 && b <= 127) ? static_cast<char>(b) : '.';
      }
      line[len++] = c;
    }
    line[len++] = '\n';
    line[len] = '\0';
    print("%s", line);
  }
  print("%s", kRule);
}

void Diag::report_error(const char* text) const {
  int error = errno;
  char line[256];
  std::snprintf(line, sizeof line, "%s (error %d)\n", text, error);
  print("\n%s", line);
  if (requests_ != nullptr) requests_->write_line(line);
}

void Diag::report_fatal(const char* text) const {
  report_error(text);
  std::exit(1);
}

}  // namespace tavro
