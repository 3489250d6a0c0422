#include "platform/debug_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

int open_target() {
  const char* target = std::getenv(kDebugOutputVariable);
  if (target == nullptr || *target == '\0') return -1;
  if (std::strcmp(target, "stderr") == 0) return STDERR_FILENO;
  return ::open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
}

}  // namespace

void debug_output(const char* text) {
  static std::once_flag once;
  static int fd = -1;
  std::call_once(once, [] { fd = open_target(); });
  if (fd < 0) return;
  std::size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t n = ::write(fd, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace platform
