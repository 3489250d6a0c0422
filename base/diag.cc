#include "base/diag.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
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
  auto send = [this](const char* bytes, std::size_t count) {
    platform::send_bytes_until(page_, bytes, count, page_deadline_);
  };
  send(kOpen, sizeof kOpen - 1);
  // The page is HTML: the text shows as it is, never as markup.
  char escaped[256];
  for (std::size_t at = 0, used = 0; at < static_cast<std::size_t>(length); at += used) {
    std::size_t n = html_escape(text + at, static_cast<std::size_t>(length) - at, escaped,
                                sizeof escaped, &used);
    send(escaped, n);
  }
  send(kClose, sizeof kClose - 1);
  if (length > 0 && text[length - 1] != '\n') send("\n", 1);
  return true;
}

namespace {

// Text as a terminal may show it: control characters but tab and line feed,
// and the C1 controls written in UTF-8, as \xHH, so that bytes a client sent
// cannot drive the terminal that shows the traces. out holds 4 * length + 1.
std::size_t terminal_escape(const char* text, std::size_t length, char* out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::size_t n = 0;
  bool c1 = false;
  for (std::size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    c1 = c1 ||
         (c == 0xC2 && i + 1 < length && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80);
    if (!c1 && ((c >= 0x20 && c != 0x7F) || c == '\t' || c == '\n')) {
      out[n++] = static_cast<char>(c);
      continue;
    }
    c1 = c == 0xC2;  // the second byte follows escaped too
    out[n++] = '\\';
    out[n++] = 'x';
    out[n++] = kDigits[c >> 4];
    out[n++] = kDigits[c & 15];
  }
  out[n] = '\0';
  return n;
}

}  // namespace

void Diag::emit(char* text, int length) const {
  char shown[kPrintBuffer * 4 + 1];
  const std::size_t shown_length = terminal_escape(text, static_cast<std::size_t>(length), shown);
  platform::debug_output(shown);
  if (emit_to_page(text, length)) return;
  if (stdout_ && length > 0) {
    [[maybe_unused]] ssize_t ignored = ::write(STDOUT_FILENO, shown, shown_length);
  }
  if (events_ != nullptr) copy_to_events(text);
}

// One record per line of text, so that a trace that holds line ends leaves
// the event log one record a line; a bare line end gives an empty record.
void Diag::copy_to_events(char* text) const {
  bool wrote = false;
  for (char* line = text; *line != '\0';) {
    char* end = line + std::strcspn(line, "\n");
    bool more = *end == '\n';
    *end = '\0';
    if (end != line) {
      events_->trace_line(line);
      wrote = true;
    }
    line = more ? end + 1 : end;
  }
  if (!wrote) events_->trace_line("");
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
  if (requests_ == nullptr) return;
  // In the log the record stays on one line when the text ends in a line end.
  int length = static_cast<int>(std::strcspn(text, "\n"));
  std::snprintf(line, sizeof line, "%.*s (error %d)\n", length, text, error);
  requests_->write_line(line);
}

void Diag::report_fatal(const char* text) const {
  report_error(text);
  std::exit(1);
}

}  // namespace tavro
