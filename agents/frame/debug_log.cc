#include "agents/frame/debug_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavro {

DebugLog::DebugLog() {
  const char* path = std::getenv(kDebugLogVariable);
  path_ = path != nullptr && *path != '\0' ? path : kDebugLogPath;
}

void DebugLog::line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer_, sizeof buffer_, format, args);
  va_end(args);
  write(buffer_);
}

void DebugLog::write(const char* text) const {
  // Opened without O_CREAT: a missing file stays missing.
  int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return;
  char line[kLineSize + 2];
  int n = std::snprintf(line, sizeof line, "%s\n", text);
  if (n > static_cast<int>(sizeof line) - 1) n = static_cast<int>(sizeof line) - 1;
  [[maybe_unused]] ssize_t written = ::write(fd, line, static_cast<std::size_t>(n));
  ::close(fd);
}

}  // namespace tavro
