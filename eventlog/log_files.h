// File helpers shared by the event log, the request log and the remote log
// readers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>

namespace tavro {

class Diag;

// Local time as "Mmm dd hh:mm:ss yyyy": exactly 20 characters.
struct Timestamp {
  char text[21];
};
Timestamp log_timestamp();
Timestamp log_timestamp(std::time_t when);

// Open modes.
inline constexpr int kOpenAppend = 0;
inline constexpr int kOpenTruncate = 1;
inline constexpr int kOpenRotate = 2;

// Opens a log file for writing: mode 1 truncates, 2 renames the file to
// "<path>.old" and starts a new one, anything else appends. Only mode 2
// creates a missing file. Returns a descriptor, or -1 (printing why through
// diag when given).
int lxs_fopen(const char* path, int mode, const Diag* diag);

// Reads up to count bytes at offset into out (which holds cap bytes, so at
// most cap - 1 are read) and terminates them; on failure out holds an
// "Error: " text. Returns the length of what out holds.
std::size_t lxs_fread(const char* path, long offset, long count, char* out, std::size_t cap);

// The file's size in bytes as decimal text, or an "Error: " text.
void evlog_size_text(const char* path, char* out, std::size_t cap);

// Writes all of text; errors are ignored as the logs do not check them.
// The descriptor of the file now at path: when the open file was renamed or
// removed (a log rotation), the path is opened anew for appending (created
// 0640) and the old descriptor closed; otherwise, or when that fails, fd.
int follow_renamed(int fd, const char* path);

void write_all(int fd, const char* text, std::size_t length);

}  // namespace tavro
