#include "agents/frame/debug_log.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavro {
namespace {

constexpr long long kLookAgainMs = 1000;

long long coarse_ms() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

DebugLog::DebugLog() {
  const char* path = std::getenv(kDebugLogVariable);
  path_ = path != nullptr && *path != '\0' ? path : kDebugLogPath;
}

bool DebugLog::on() const {
  return missing_since_ms_ < 0 || coarse_ms() - missing_since_ms_ >= kLookAgainMs;
}

void DebugLog::line(const char* format, ...) {
  if (!on()) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer_, sizeof buffer_, format, args);
  va_end(args);
  write(buffer_);
}

void DebugLog::write(const char* text) {
  if (!on()) return;
  // Opened without O_CREAT: a missing file stays missing.
  int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  missing_since_ms_ = fd < 0 ? coarse_ms() : -1;
  if (fd < 0) return;
  char line[kLineSize + 2];
  int n = std::snprintf(line, sizeof line, "%s\n", text);
  if (n > static_cast<int>(sizeof line) - 1) n = static_cast<int>(sizeof line) - 1;
  [[maybe_unused]] ssize_t written = ::write(fd, line, static_cast<std::size_t>(n));
  ::close(fd);
}

}  // namespace tavro
