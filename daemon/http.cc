#include "daemon/http.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/message.h"
#include "base/text.h"
#include "daemon/commands.h"
#include "daemon/daemon.h"

namespace tavro {

const FileType file_type_table[] = {
    {".html", &HttpState::get_html_count, 0x2000},
    {".htm", &HttpState::get_html_count, 0x2000},
    {".gif", &HttpState::get_image_count, 0x8000},
    {".jpg", &HttpState::get_image_count, 0x8000},
    {".class", &HttpState::get_applet_count, 0x4000},
    {".jar", &HttpState::get_applet_count, 0x4000},
    {".HTML", &HttpState::get_html_count, 0x2000},
    {".HTM", &HttpState::get_html_count, 0x2000},
    {".GIF", &HttpState::get_image_count, 0x8000},
    {".JPG", &HttpState::get_image_count, 0x8000},
    {".CLASS", &HttpState::get_applet_count, 0x4000},
    {".JAR", &HttpState::get_applet_count, 0x4000},
    {nullptr, nullptr, 0},
};

const FileType other_file_type = {nullptr, &HttpState::get_other_count, 0x1000};

namespace {

constexpr std::uint32_t kGetTrace = 0x1000;
constexpr std::uint32_t kProgressTrace = 0x2000;
constexpr std::uint32_t kChunkDump = 0x4000;
constexpr std::int32_t kGetLogBits = 0x1000 | 0x2000 | 0x4000 | 0x8000;

constexpr std::size_t kSendBuffer = 4096;
// BaseDir, the request path and the terminator.
constexpr std::size_t kFileName = 256 + kMessageSize + 1;

constexpr char kDebugPrefix[] = "GET /HTDEBUG";

constexpr char kStatusOk[] = "HTTP/1.0 200 OK\n\n";
constexpr char kStatusNotFound[] = "HTTP/1.0 404 NOT FOUND\n\n";
constexpr char kStatusRefused[] = "HTTP/1.0 500 NOT ALLOWED\n\n";

constexpr char kSorryTop[] =
    "<html>\n"
    "<head><title>Sorry</title></head>\n"
    "<body bgcolor=ffffff text=000000>\n"
    "<center>\n"
    "<br><br>\n"
    "<font color=ff0000 size=\"+2\"><strong>Sorry...</strong></font>\n"
    "<br><br>\n";
constexpr char kSorryBottom[] =
    "</center>\n"
    "</body>\n"
    "</html>\n";
constexpr char kRefusedLine[] = "The request is not allowed on this system.\n";
constexpr char kNotFoundLine[] = "The requested URL was not found on this site.\n";

constexpr char kDebugHead[] = "<html>\n<head><title>LTX HTDEBUG</title></head>\n<body>\n<pre>\n";
constexpr char kDebugUnknown[] =
    "<font color=red><strong>This message type is NOT recognized.</strong></font>\n";
constexpr char kDebugFoot[] = "\n</pre>\n</body>\n</html>\n";

int count_of(const HttpState& http) {
  return static_cast<int>(http.get_count);
}

bool send_all(platform::socket_t s, const char* text, std::size_t length) {
  return platform::send_bytes(s, text, length) == static_cast<ssize_t>(length);
}

template <std::size_t N>
bool send_all(platform::socket_t s, const char (&text)[N]) {
  return send_all(s, text, N - 1);
}

// The shared page of a refused or missing file, after an optional status line.
std::size_t sorry_page(const char* status, const char* line, char* out, std::size_t cap) {
  int n = std::snprintf(out, cap, "%s%s%s%s", status, kSorryTop, line, kSorryBottom);
  return n < 0 ? 0 : static_cast<std::size_t>(n) < cap ? static_cast<std::size_t>(n) : cap - 1;
}

int refuse(platform::socket_t s) {
  char page[512];
  std::size_t length = sorry_page(kStatusRefused, kRefusedLine, page, sizeof page);
  platform::send_bytes(s, page, length);
  return -1;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a file in chunks the way a stream reader fills a buffer: as much as
// fits, short only at the end of the file or on an error. A short read of a
// regular file is its end, so the next call returns 0 without asking again.
class FileReader {
 public:
  explicit FileReader(int fd) : fd_(fd) {}
  ~FileReader() { ::close(fd_); }
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  std::size_t read(char* out, std::size_t cap) {
    std::size_t got = 0;
    while (error_ == 0 && !at_end_ && got < cap) {
      ssize_t n = ::read(fd_, out + got, cap - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
        at_end_ = got < cap;
      } else if (n == 0) {
        at_end_ = true;
      } else if (errno != EINTR) {
        error_ = errno;
      }
    }
    return got;
  }
  // The error that stopped reading, 0 when none did.
  int error() const { return error_; }

 private:
  int fd_;
  int error_ = 0;
  bool at_end_ = false;
};

void report_read_error(Daemon& d, const FileReader& file, const char* name) {
  ++d.http.get_error_count;
  char text[kFileName + 64];
  std::snprintf(text, sizeof text, "GET(%d) fread(%s) error\n", count_of(d.http), name);
  errno = file.error();
  d.diag.report_error(text);
}

bool send_chunk(Daemon& d, platform::socket_t s, const char* buffer, std::size_t held,
                const char* name) {
  if (d.diag.on(kProgressTrace)) {
    d.diag.print("GET(%d) send %d bytes...", count_of(d.http), static_cast<int>(held));
  }
  ssize_t sent = platform::send_bytes(s, buffer, held);
  if (sent != static_cast<ssize_t>(held)) {
    char text[kFileName + 64];
    std::snprintf(text, sizeof text, "GET(send(%s:%d/%d))", name, static_cast<int>(sent),
                  static_cast<int>(held));
    d.diag.report_error(text);
    return false;
  }
  if (d.diag.on(kProgressTrace)) d.diag.print("\n");
  return true;
}

// Sends the status line and the file; the first chunk carries both.
void send_file(Daemon& d, platform::socket_t s, FileReader& file, const char* name) {
  char buffer[kSendBuffer];
  std::size_t held = sizeof kStatusOk - 1;
  std::memcpy(buffer, kStatusOk, held);
  for (;;) {
    if (d.diag.on(kProgressTrace)) d.diag.print("GET(%d) read ", count_of(d.http));
    std::size_t got = file.read(buffer + held, sizeof buffer - held);
    if (got == 0) {
      if (file.error() != 0) {
        report_read_error(d, file, name);
        return;
      }
      if (d.diag.on(kProgressTrace)) d.diag.print("EOF\n");
      // An empty file still gets its status line.
      if (held > 0) send_chunk(d, s, buffer, held, name);
      return;
    }
    if (d.diag.on(kProgressTrace)) d.diag.print("%d bytes\n", static_cast<int>(got));
    if (d.diag.on(kChunkDump)) d.diag.hexdump(buffer + held, static_cast<int>(got));
    held += got;
    if (!send_chunk(d, s, buffer, held, name)) return;
    held = 0;
  }
}

void send_error_page(Daemon& d, platform::socket_t s, FileReader& file, const char* name) {
  char buffer[kSendBuffer];
  while (std::size_t got = file.read(buffer, sizeof buffer)) {
    if (!send_all(s, buffer, got)) {
      d.diag.report_error("GET(send(errorhtml)) ERROR\n");
      return;
    }
  }
  if (file.error() != 0) report_read_error(d, file, name);
}

void not_found(Daemon& d, platform::socket_t s, int error) {
  ++d.http.get_error_count;
  if (d.diag.on(kGetTrace)) d.diag.print("GET(%d) error %d\n", count_of(d.http), error);
  if (!send_all(s, kStatusNotFound)) {
    d.diag.report_error("GET(send(http_404)) ERROR\n");
    return;
  }
  const char* error_html = d.settings.error_html;
  if (error_html[0] != '\0') {
    int fd = open_served_file(error_html, nullptr);
    if (fd >= 0) {
      FileReader file(fd);
      send_error_page(d, s, file, error_html);
      return;
    }
  }
  char page[512];
  std::size_t length = sorry_page("", kNotFoundLine, page, sizeof page);
  if (!send_all(s, page, length)) d.diag.report_error("GET(send(url_not_found)) ERROR\n");
}

// Serves the file a request path names; received is the request as it came
// in, kept for the request log (null when no GET note is wanted).
void serve_path(Daemon& d, platform::socket_t s, const char* path, const char* received) {
  char name[kFileName];
  bool fits = map_path(d.settings, path, name, sizeof name);
  if (!fits) name[0] = '\0';
  const FileType& type = file_type(name);
  ++(d.http.*type.counter);
  if (d.diag.on(kGetTrace)) d.diag.print("GET(%d) %s\n", count_of(d.http), name);
  if (received != nullptr && (d.settings.log_flags & type.log_bit) != 0) {
    d.requests.note_request(s, received);
  }
  // DefaultHtml is the administrator's own choice; request paths stay inside
  // the HTML home directory.
  int fd = -1;
  if (!fits) {
    errno = ENAMETOOLONG;
  } else if (std::strcmp(path, "/") == 0) {
    fd = open_served_file(name, nullptr);
  } else if (has_parent_component(path)) {
    errno = EACCES;
  } else {
    fd = open_served_file(name, html_home(d.settings));
  }
  if (fd < 0) {
    not_found(d, s, errno);
    return;
  }
  FileReader file(fd);
  send_file(d, s, file, name);
}

// Sends text to the page's connection with its markup characters escaped.
ssize_t send_escaped(void* page, const void* buf, std::size_t len) {
  platform::socket_t s = *static_cast<platform::socket_t*>(page);
  const char* text = static_cast<const char*>(buf);
  char escaped[1024];
  std::size_t done = 0;
  while (done < len) {
    std::size_t used = 0;
    std::size_t n = html_escape(text + done, len - done, escaped, sizeof escaped, &used);
    if (!send_all(s, escaped, n)) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += used;
  }
  return static_cast<ssize_t>(len);
}

// Runs the command on its own descriptor of the connection: whatever the
// command sends there reaches the page escaped, so a reply shows as text.
int run_escaped(Daemon& d, platform::socket_t s, const CommandRow& row, char* command) {
  platform::socket_t own = ::fcntl(s, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return -1;
  platform::set_send_filter(own, send_escaped, &s);
  int result = row.handler(d, own, command);
  platform::clear_send_filter();
  ::close(own);
  return result;
}

int debug_page(Daemon& d, platform::socket_t s, const char* decoded) {
  if (d.settings.debug_req != kEnabled || d.http.debug_page_open) return refuse(s);
  // The command gets a message buffer of its own, as from the request loop.
  std::unique_ptr<char[]> command(new char[kMessageSize + 1]);
  std::size_t length = std::strlen(decoded);
  // The character after the prefix (usually "?") is skipped.
  const char* text = decoded + std::min(length, sizeof kDebugPrefix);
  std::snprintf(command.get(), kMessageSize + 1, "%s", text);
  if (char* end = std::strstr(command.get(), " HTTP/")) *end = '\0';

  d.http.debug_page_open = true;
  d.diag.redirect_to(s, receive_deadline(d));
  if (!send_all(s, kStatusOk)) d.diag.report_error("HTDEBUG(send(http_200)) ERROR\n");
  if (!send_all(s, kDebugHead)) d.diag.report_error("HTDEBUG(send(header)) ERROR\n");
  if (!send_all(s, "\n<B>") || send_escaped(&s, command.get(), std::strlen(command.get())) < 0 ||
      !send_all(s, "</B>\n\n")) {
    d.diag.report_error("HTDEBUG(send(buf)) ERROR\n");
  }
  int result = 0;
  if (const CommandRow* row = find_command(command.get())) {
    result = run_escaped(d, s, *row, command.get());
  } else {
    if (d.diag.on(kGetTrace)) d.diag.print("HTDEBUG: message type NOT recognized.\n");
    if (!send_all(s, kDebugUnknown)) {
      d.diag.report_error("HTDEBUG(send(htdebug_msg_not_known)) ERROR\n");
    }
  }
  if (!send_all(s, kDebugFoot)) d.diag.report_error("HTDEBUG(send(footer)) ERROR\n");
  d.diag.end_redirect();
  d.http.debug_page_open = false;
  return result;
}

}  // namespace

const FileType& file_type(const char* file_name) {
  const char* dot = std::strrchr(file_name, '.');
  if (dot == nullptr) return other_file_type;
  for (const FileType* row = file_type_table; row->extension != nullptr; ++row) {
    if (std::strcmp(dot, row->extension) == 0) return *row;
  }
  return other_file_type;
}

void percent_decode(char* text) {
  char* out = text;
  const char* in = text;
  while (*in != '\0') {
    int high = in[0] == '%' ? hex_value(in[1]) : -1;
    int low = high >= 0 ? hex_value(in[2]) : -1;
    if (low >= 0) {
      *out++ = static_cast<char>(high * 16 + low);
      in += 3;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
}

const char* html_home(const Settings& settings) {
  return settings.base_dir[0] != '\0' ? settings.base_dir : ".";
}

bool map_path(const Settings& settings, const char* path, char* out, std::size_t cap) {
  int n;
  if (std::strcmp(path, "/") == 0) {
    n = std::snprintf(out, cap, "%s", settings.default_html);
  } else if (path[0] == '/') {
    n = std::snprintf(out, cap, "%s%s", html_home(settings), path);
  } else {
    n = std::snprintf(out, cap, "%s", path);
  }
  return n >= 0 && static_cast<std::size_t>(n) < cap;
}

bool has_parent_component(const char* path) {
  for (const char* p = path; *p != '\0';) {
    std::size_t length = std::strcspn(p, "/");
    if (length == 2 && p[0] == '.' && p[1] == '.') return true;
    p += length;
    if (*p == '/') ++p;
  }
  return false;
}

namespace {

bool lies_inside(const char* root, const char* path) {
  std::size_t length = std::strlen(root);
  if (length > 0 && root[length - 1] == '/') return std::strncmp(path, root, length) == 0;
  return std::strncmp(path, root, length) == 0 && (path[length] == '/' || path[length] == '\0');
}

long open_resolved(int dir, const char* name, int flags, std::uint64_t resolve) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = resolve;
  return ::syscall(SYS_openat2, dir, name, &how, sizeof how);
}

// Opens file_name, which names a file under home, in one step when the kernel
// can resolve it without leaving home. -1 when it cannot (the caller then
// resolves it the long way, which also finds the error to report).
int open_beneath(const char* file_name, const char* home, int flags) {
  std::size_t length = std::strlen(home);
  if (std::strncmp(file_name, home, length) != 0 || file_name[length] != '/') return -1;
  const char* relative = file_name + length;
  while (*relative == '/') ++relative;
  // A name under home with no ".." and no symbolic link on its way cannot
  // leave home, so the common case needs no descriptor for home itself.
  long fd = -1;
  if (!has_parent_component(relative)) {
    fd = open_resolved(AT_FDCWD, file_name, flags, RESOLVE_NO_SYMLINKS);
  }
  if (fd < 0) {
    int root = ::open(home, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return -1;
    fd = open_resolved(root, relative, flags, RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
    ::close(root);
  }
  return fd < 0 ? -1 : static_cast<int>(fd);
}

// A descriptor that is a regular file, else -1 with errno set (the
// descriptor is closed).
int regular_file_or_close(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    int error = S_ISDIR(status.st_mode) ? EISDIR : EACCES;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

int open_served_file(const char* file_name, const char* home) {
  // Non-blocking, so that opening a named pipe cannot stall the daemon; it
  // changes nothing for the regular files that are served.
  int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (home != nullptr) {
    int fd = open_beneath(file_name, home, flags);
    if (fd >= 0) {
      fd = regular_file_or_close(fd);
      if (fd >= 0) return fd;
    }
  }
  char resolved[PATH_MAX];
  const char* target = file_name;
  if (home != nullptr) {
    char root[PATH_MAX];
    if (::realpath(home, root) == nullptr || ::realpath(file_name, resolved) == nullptr) {
      return -1;
    }
    if (!lies_inside(root, resolved)) {
      errno = EACCES;
      return -1;
    }
    target = resolved;
    flags |= O_NOFOLLOW;
  }
  int fd = ::open(target, flags);
  return fd < 0 ? -1 : regular_file_or_close(fd);
}

int get_request(Daemon& d, platform::socket_t s, char* message) {
  ++d.http.get_count;
  if (d.settings.get_req != kEnabled) return refuse(s);
  char received[kMessageSize + 1];
  bool keep = (d.settings.log_flags & kGetLogBits) != 0;
  if (keep) std::snprintf(received, sizeof received, "%s", message);
  if (d.diag.on(kGetTrace)) d.diag.print("HTTPGET: \"%s\"\n", message);
  percent_decode(message);
  if (d.diag.on(kGetTrace)) d.diag.print("decoded: \"%s\"\n", message);
  if (std::strncmp(message, kDebugPrefix, sizeof kDebugPrefix - 1) == 0) {
    return debug_page(d, s, message);
  }
  char* tokens[2];
  if (string2toks(message, tokens, 2, &d.diag) < 2) {
    ++d.http.get_error_count;
    if (d.diag.on(kGetTrace)) d.diag.print("GET(%d) missing filename\n", count_of(d.http));
    return 0;
  }
  serve_path(d, s, tokens[1], keep ? received : nullptr);
  return 0;
}

int format_get_stats(const Daemon& d, char* out, std::size_t cap) {
  const HttpState& h = d.http;
  return std::snprintf(out, cap,
                       "GET;%d;GET(htmls);%d;GET(images);%d;GET(java);%d;GET(other);%d;"
                       "GET(errors);%d",
                       static_cast<int>(h.get_count), static_cast<int>(h.get_html_count),
                       static_cast<int>(h.get_image_count), static_cast<int>(h.get_applet_count),
                       static_cast<int>(h.get_other_count), static_cast<int>(h.get_error_count));
}

}  // namespace tavro
