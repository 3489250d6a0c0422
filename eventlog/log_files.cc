#include "eventlog/log_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "base/diag.h"

namespace tavro {

Timestamp log_timestamp() {
  return log_timestamp(std::time(nullptr));
}

Timestamp log_timestamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  Timestamp t{};
  // The day has two digits ("Dec 06"); a year past 9999 is cut to stay 20.
  char full[64];
  std::strftime(full, sizeof full, "%b %d %H:%M:%S %Y", &local);
  std::memcpy(t.text, full, 20);
  t.text[20] = '\0';
  return t;
}

int lxs_fopen(const char* path, int mode, const Diag* diag) {
  if (path == nullptr || *path == '\0') return -1;
  int fd = -1;
  if (mode == kOpenTruncate) {
    fd = ::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  } else if (mode == kOpenRotate) {
    std::string old_path = std::string(path) + ".old";
    std::remove(old_path.c_str());
    std::rename(path, old_path.c_str());
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  } else {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  }
  if (fd < 0 && diag != nullptr) {
    int error = errno;
    diag->print("lxs_fopen() Error opening file: %s\nError %d: %s\n", path, error,
                std::strerror(error));
  }
  return fd;
}

std::size_t lxs_fread(const char* path, long offset, long count, char* out, std::size_t cap) {
  auto fail = [&](const char* what) {
    return static_cast<std::size_t>(std::snprintf(out, cap, "%slxs_fread() %s", "Error: ", what));
  };
  if (path == nullptr || *path == '\0') return fail("fn=NULL|EMPTY");
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("Open failed");
  if (offset < 0 || ::lseek(fd, offset, SEEK_SET) < 0) {
    ::close(fd);
    return fail("Seek failed");
  }
  std::size_t want = count > 0 ? static_cast<std::size_t>(count) : 0;
  if (want > cap - 1) want = cap - 1;
  std::size_t got = 0;
  while (got < want) {
    ssize_t n = ::read(fd, out + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  out[got] = '\0';
  ::close(fd);
  return got;
}

void evlog_size_text(const char* path, char* out, std::size_t cap) {
  if (path == nullptr || *path == '\0') {
    std::snprintf(out, cap, "%sfn=NULL", "Error: ");
    return;
  }
  struct stat st {};
  if (::stat(path, &st) != 0) {
    int error = errno;
    std::snprintf(out, cap, "%s %d - %s", "Error: ", error, std::strerror(error));
    return;
  }
  std::snprintf(out, cap, "%lld", static_cast<long long>(st.st_size));
}

int follow_renamed(int fd, const char* path) {
  struct stat open_file {
  }, named{};
  if (fd < 0 || path == nullptr || ::fstat(fd, &open_file) != 0) return fd;
  if (::stat(path, &named) == 0 && named.st_ino == open_file.st_ino &&
      named.st_dev == open_file.st_dev) {
    return fd;
  }
  int fresh = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fresh < 0) return fd;
  ::close(fd);
  return fresh;
}

void write_all(int fd, const char* text, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

}  // namespace tavro
