#include "eventlog/request_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/diag.h"
#include "eventlog/log_files.h"

namespace tavro {

RequestLog::~RequestLog() {
  if (fd_.load() >= 0) ::close(fd_.load());
}

int RequestLog::open(const char* start_text) {
  {
    std::lock_guard lock(mutex_);
    if (fd_.load() < 0) {
      int fd = lxs_fopen(settings_.path, settings_.open_mode, diag_);
      if (fd < 0) return 1;
      fd_ = fd;
    }
  }
  if ((settings_.flags & 0x1) != 0 && start_text != nullptr) write_raw(start_text);
  return 0;
}

int RequestLog::write_raw(const char* text) {
  std::lock_guard lock(mutex_);
  if (fd_.load() < 0) return -1;
  fd_ = follow_renamed(fd_, settings_.path);
  std::size_t len = std::strlen(text);
  write_all(fd_, text, len);
  ::fsync(fd_);
  return static_cast<int>(len);
}

int RequestLog::write_line(const char* text) {
  char line[1100];
  int n = std::snprintf(line, sizeof line, "%s: %s", log_timestamp().text, text);
  if (n < 0) return -1;
  std::lock_guard lock(mutex_);
  if (fd_.load() < 0) return -1;
  fd_ = follow_renamed(fd_, settings_.path);
  std::size_t len =
      static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
  write_all(fd_, line, len);
  ::fsync(fd_);
  return static_cast<int>(len);
}

void format_request_note(platform::socket_t peer, const char* request, char* out, std::size_t cap) {
  char name[256];
  std::uint8_t ip[4];
  if (platform::peer_address(peer, ip) != 0) {
    int error = errno;
    // Without its line end, so that the note stays one record.
    std::snprintf(name, sizeof name, "getpeername() Error %d:%s", error, std::strerror(error));
  } else if (platform::peer_host_name(peer, name, sizeof name) != 0) {
    std::snprintf(name, sizeof name, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
  }
  std::size_t limit = cap - 1 < kRecordMax ? cap - 1 : kRecordMax;
  int n = std::snprintf(out, limit + 1, "%s - %s\n", name, request);
  if (n >= 0 && static_cast<std::size_t>(n) > limit) out[limit - 1] = '\n';
}

void RequestLog::note_request(platform::socket_t peer, const char* request) {
  bool echo = diag_ != nullptr && diag_->on(0x8);
  if (!is_open() && !echo) return;
  char note[kRecordMax + 1];
  format_request_note(peer, request, note, sizeof note);
  if (echo) diag_->print("%s", note);
  write_line(note);
}

void RequestLog::close() {
  std::lock_guard lock(mutex_);
  int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

}  // namespace tavro
