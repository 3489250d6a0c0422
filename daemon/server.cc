#include "daemon/server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/message.h"
#include "base/text.h"
#include "daemon/commands.h"
#include "daemon/daemon.h"
#include "daemon/service_commands.h"
#include "daemon/service_notify.h"
#include "eventlog/log_files.h"
#include "platform/debug_output.h"
#include "platform/stop_signals.h"

namespace tavro {

// RecvTimeOut from now; a negative setting counts as 0.
std::chrono::steady_clock::time_point receive_deadline(const Daemon& d) {
  std::chrono::seconds timeout(d.settings.recv_timeout > 0 ? d.settings.recv_timeout : 0);
  return std::chrono::steady_clock::now() + timeout;
}

namespace {

constexpr std::uint32_t kSocketTrace = 0x40000000;

// Start-up failures: format holds one %s for the program name.
void fatal(const Daemon& d, const char* format) {
  char text[512];
  std::snprintf(text, sizeof text, format, d.server.program_name);
  d.diag.report_fatal(text);
}

void set_program_name(Daemon& d, const char* word) {
  const char* slash = std::strrchr(word, '/');
  std::snprintf(d.server.program_name, sizeof d.server.program_name, "%s",
                slash != nullptr ? slash + 1 : word);
}

void parse_options(Daemon& d, int count, const char* const* words) {
  switch (parse_command_line(d.settings, count, words, d.diag)) {
    case ParseResult::kOk:
      return;
    case ParseResult::kUsage:
      print_usage(d.diag, d.server.program_name);
      std::exit(0);
    case ParseResult::kConfigUnreadable: {
      char text[300];
      std::snprintf(text, sizeof text, "conf(fopen(%s))", d.settings.conf_name);
      d.diag.report_fatal(text);
    }
  }
}

void check_host(Daemon& d) {
  char host[128];
  if (platform::host_name(host, sizeof host) != 0) fatal(d, "%s: gethostname()");
  if (d.diag.on(0x1)) {
    d.diag.print("copt() Rev=%s\n", revision_text);
    d.diag.print("copt() Host=%s:%d (0x%x)\n", host, d.settings.port,
                 static_cast<unsigned>(d.settings.port));
  }
  int family = 0;
  if (platform::lookup_host(host, &family) != 0) {
    // Many Linux hosts cannot resolve their own name; the listening socket
    // binds to any address and does not need it.
    char text[300];
    std::snprintf(text, sizeof text, "%s: gethostbyname(%s)", d.server.program_name, host);
    d.diag.report_error(text);
  }
  if (d.diag.on(kSocketTrace)) d.diag.print("Set h_addrtype to AF_INET.\n");
}

void note_start(Daemon& d) {
  d.server.start = std::chrono::steady_clock::now();
  std::snprintf(d.server.up_since, sizeof d.server.up_since, "%s", log_timestamp().text);
  char line[128];
  std::snprintf(line, sizeof line, "***** Started - %s - *****\n", d.server.up_since);
  d.requests.open(line);
  if (d.diag.flags() != 0) d.diag.print("%s: %s", d.server.program_name, line);
}

void open_listener(Daemon& d) {
  if (d.diag.on(kSocketTrace)) d.diag.print("creating: socket(0x%X, 0x%X, 0x%X)\n", 2, 1, 0);
  platform::socket_t s = platform::tcp_socket();
  if (s == platform::kInvalidSocket) fatal(d, "%s: socket()");
  platform::set_reuse_address(s);
  if (platform::bind_listen_address(s, static_cast<std::uint16_t>(d.settings.port)) < 0) {
    fatal(d, "%s: bind()");
  }
  // The kernel's limit: a burst of connections waits in the queue rather
  // than being dropped and retried by the clients a second later.
  platform::listen_socket(s, SOMAXCONN);
  // A client that gives up between the wake-up and the accept must not
  // leave the loop blocked in accept.
  ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
  d.server.listener = s;
}

void note_failed_accept(Daemon& d) {
  char line[300];
  std::snprintf(line, sizeof line, "%s: error: accept rc == %d.\n", d.server.program_name, -1);
  if (d.diag.on(kSocketTrace)) d.diag.print("%s", line);
  d.requests.write_line(line);
}

using Clock = std::chrono::steady_clock;

// Milliseconds since the connection last received data.
std::uint32_t quiet_ms(platform::socket_t s) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return 0;
  return info.tcpi_last_data_recv;
}

// One connection's request as its bytes come in.
struct PendingRequest {
  PendingRequest(platform::socket_t s, Clock::time_point until) : socket(s), deadline(until) {}

  // Reads what the connection holds, without waiting, and notes an end.
  void read() {
    char chunk[kMessageSize];
    ssize_t n = platform::recv_bytes(socket, chunk, kMessageSize - bytes.size());
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      end = n == 0 && !bytes.empty() ? RequestEnd::kShutdown : RequestEnd::kGone;
      came = Clock::now();
      return;
    }
    // Bytes that came while the loop served another request count from when
    // they arrived, so that requests are served in the order they came.
    last_data = Clock::now() - std::chrono::milliseconds(quiet_ms(socket));
    came = last_data;
    const std::size_t size = static_cast<std::size_t>(n);
    bytes.append(chunk, size);
    constexpr char kEnds[] = {'\r', '\n', '\0'};
    if (std::find_first_of(chunk, chunk + size, kEnds, kEnds + 3) != chunk + size) {
      end = RequestEnd::kLineEnd;
    } else if (bytes.size() >= kMessageSize) {
      end = RequestEnd::kFull;
    }
  }
  // The time the request is taken as whole without its end, or dropped.
  Clock::time_point due() const {
    return bytes.empty() ? deadline : std::min(last_data + kQuietTime, deadline);
  }
  void check_time(Clock::time_point now) {
    if (end != RequestEnd::kNone || bytes.empty() || now < due()) return;
    came = due();
    end = RequestEnd::kQuiet;
  }
  bool silent() const { return bytes.empty() && end == RequestEnd::kNone; }
  bool whole() const { return end != RequestEnd::kNone && end != RequestEnd::kGone; }

  platform::socket_t socket;
  Clock::time_point deadline, last_data, came;
  std::string bytes;
  RequestEnd end = RequestEnd::kNone;
};

// Connections accepted but not yet served. Each waits for its request until
// its own deadline; requests are served one at a time in the order they
// became whole, so a client that sends nothing, or half a request, holds only
// itself.
class WaitingConnections {
 public:
  bool full() const { return entries_.size() >= kMaxWaiting; }
  bool has_whole() const {
    return std::any_of(entries_.begin(), entries_.end(), [](const auto& e) { return e.whole(); });
  }
  void add(platform::socket_t s, Clock::time_point deadline) { entries_.emplace_back(s, deadline); }

  // Room for one more, or a silent connection to close for it.
  bool can_take() const {
    return !full() ||
           std::any_of(entries_.begin(), entries_.end(), [](const auto& e) { return e.silent(); });
  }
  // Makes room for one more by closing the oldest connection still silent.
  void make_room(Daemon& d) {
    if (!full()) return;
    auto oldest =
        std::find_if(entries_.begin(), entries_.end(), [](const auto& e) { return e.silent(); });
    if (oldest == entries_.end()) return;
    close_connection(d, oldest->socket);
    entries_.erase(oldest);
  }

  // Waits until the listener or a connection has something, or the nearest
  // quiet time or deadline, and reads what came. Returns true when the
  // listener has a connection to accept.
  bool wait(platform::socket_t listener, bool accepting) {
    std::vector<pollfd> fds;
    fds.push_back({accepting ? listener : -1, POLLIN, 0});
    for (const auto& e : entries_) {
      fds.push_back({e.end == RequestEnd::kNone ? e.socket : -1, POLLIN, 0});
    }
    int r = ::poll(fds.data(), fds.size(), has_whole() ? 0 : wait_ms());
    for (std::size_t i = 0; r > 0 && i < entries_.size(); ++i) {
      if (fds[i + 1].revents != 0) entries_[i].read();
    }
    auto now = Clock::now();
    for (auto& e : entries_) e.check_time(now);
    return r > 0 && fds[0].revents != 0;
  }

  // Closes, without a reply, the connections that went before their request
  // came and the silent ones whose deadline has passed.
  void drop_expired(Daemon& d) {
    auto now = Clock::now();
    std::erase_if(entries_, [&](const PendingRequest& e) {
      if (e.end != RequestEnd::kGone && !(e.silent() && e.deadline <= now)) return false;
      close_connection(d, e.socket);
      if (d.diag.on(kSocketTrace) && !d.server.shutdown_requested) {
        d.diag.print("%s: recv() %d bytes\n", d.server.program_name, -1);
      }
      return true;
    });
  }

  // The request that became whole first, taken out; or none.
  std::optional<PendingRequest> take_first_whole() {
    auto first = entries_.end();
    for (auto e = entries_.begin(); e != entries_.end(); ++e) {
      if (e->whole() && (first == entries_.end() || e->came < first->came)) first = e;
    }
    if (first == entries_.end()) return std::nullopt;
    PendingRequest r = std::move(*first);
    entries_.erase(first);
    return r;
  }

 private:
  // Until the nearest quiet time or deadline; forever when nothing waits.
  int wait_ms() const {
    if (entries_.empty()) return -1;
    auto nearest = entries_.front().due();
    for (const auto& e : entries_) nearest = std::min(nearest, e.due());
    auto left = std::chrono::ceil<std::chrono::milliseconds>(nearest - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 0x7FFFFFFF));
  }

  std::deque<PendingRequest> entries_;
};

// Accepts one connection; false when the listener has failed (or was closed
// by a stop) and the loop must end.
bool accept_one(Daemon& d, WaitingConnections& waiting) {
  platform::socket_t listener = d.server.listener;
  waiting.make_room(d);
  platform::socket_t c = platform::accept_connection(listener);
  if (c == platform::kInvalidSocket) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;  // the client went again
    if (!d.server.shutdown_requested) note_failed_accept(d);
    return false;
  }
  if (d.diag.on(kSocketTrace)) d.diag.print("... got incoming message.\n");
  waiting.add(c, receive_deadline(d));
  return true;
}

void serve_request(Daemon& d, PendingRequest& r, char* buffer);

int request_loop(Daemon& d) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kMessageSize + 1]);
  if (!buffer) {
    char text[300];
    std::snprintf(text, sizeof text, "%s: malloc(%d)", d.server.program_name,
                  static_cast<int>(kMessageSize));
    d.diag.report_fatal(text);
  }
  WaitingConnections waiting;
  for (;;) {
    if (d.server.shutdown_requested) return 0;
    if (d.diag.on(kSocketTrace) && !waiting.has_whole()) {
      d.diag.print("Waiting for incoming message on socket...\n");
    }
    if (waiting.wait(d.server.listener, waiting.can_take()) && !accept_one(d, waiting)) return 0;
    waiting.drop_expired(d);
    if (auto r = waiting.take_first_whole()) serve_request(d, *r, buffer.get());
  }
}

void trace_request(Daemon& d, const char* buffer, int count) {
  int length = static_cast<int>(std::strlen(buffer));
  if (d.diag.on(kSocketTrace)) {
    if (length == count) {
      d.diag.print("... got message (%d):'%s'\n", count, buffer);
    } else {
      d.diag.print("**** got zero in message!! (%d/%d):'%s'\n", count, length, buffer);
      d.diag.hexdump(buffer, count);
    }
  }
}

void dispatch(Daemon& d, platform::socket_t c, char* request, RequestEnd end) {
  if (const CommandRow* row = find_command(request)) {
    if (row->needs_end && end == RequestEnd::kQuiet) {
      if (d.diag.on(kSocketTrace)) d.diag.print("... no line end: not applied\n");
      platform::send_bytes(c, kUnendedReply, sizeof kUnendedReply - 1);
      return;
    }
    row->handler(d, c, request);
    return;
  }
  std::uint32_t count = ++d.server.invalid_count;
  char line[kMessageSize + 32];
  std::snprintf(line, sizeof line, "INVMSG(%d): %s", static_cast<int>(count), request);
  if (d.diag.on(0x800)) d.diag.print("%s\n", line);
  if ((d.settings.log_flags & 0x10) != 0) d.requests.note_request(c, line);
}

void serve_request(Daemon& d, PendingRequest& r, char* buffer) {
  const int count = static_cast<int>(r.bytes.size());
  std::memcpy(buffer, r.bytes.data(), r.bytes.size());
  buffer[count] = '\0';
  strip_line_end(buffer);
  trace_request(d, buffer, count);
  // One deadline for the whole reply: a client that reads slowly or not at
  // all holds the daemon no longer than it may take to send its request.
  platform::set_send_deadline(r.socket, receive_deadline(d));
  if (d.diag.on(0x10)) {
    d.diag.print("\n%s: read %d bytes\n", d.server.program_name, count);
    d.diag.hexdump(buffer, count);
    d.diag.print("%s====================\n", buffer);
  }
  dispatch(d, r.socket, buffer, r.end);
  platform::clear_send_deadline();
  close_connection(d, r.socket);
}

}  // namespace

std::int32_t uptime_ms(const Daemon& d) {
  auto elapsed = std::chrono::steady_clock::now() - d.server.start;
  return static_cast<std::int32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void serve_connection(Daemon& d, platform::socket_t c, char* buffer) {
  PendingRequest r(c, receive_deadline(d));
  for (r.read(); r.end == RequestEnd::kNone; r.check_time(Clock::now())) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(r.due() - Clock::now());
    if (left.count() <= 0 && r.bytes.empty()) break;
    if (platform::wait_readable(
            c, static_cast<int>(std::clamp<long long>(left.count(), 0, 0x7FFFFFFF))) > 0)
      r.read();
  }
  if (r.whole()) {
    serve_request(d, r, buffer);
  } else {
    close_connection(d, c);
  }
}

void close_connection(Daemon& d, platform::socket_t c) {
  platform::shutdown_send(c);
  char sink[kMessageSize];
  std::size_t drained = 0;
  ssize_t n;
  while (drained < kDrainLimit && (n = platform::recv_bytes(c, sink, sizeof sink)) > 0) {
    drained += static_cast<std::size_t>(n);
    if (d.diag.flags() != 0) d.diag.print("SHUTDOWN - received data!\n");
  }
  platform::close_socket(c);
}

int copt(Daemon& d, int count, const char* const* words) {
  if (count > 0) set_program_name(d, words[0]);
  parse_options(d, count - 1, words + 1);
  d.server.gate.settings_applied();
  d.server.gate.wait_for_log();
  if (d.settings.port == 0) {
    d.diag.print("%s: No port (socket) number specified - exiting.\n", d.server.program_name);
    return -1;
  }
  if (d.settings.port < 1 || d.settings.port > 65535) {
    d.diag.print("%s: Port %d is not between 1 and 65535 - exiting.\n", d.server.program_name,
                 static_cast<int>(d.settings.port));
    return -1;
  }
  if (d.diag.flags() != 0) d.diag.print("%s: pid=%d\n", d.server.program_name, getpid());
  if (d.diag.on(kSocketTrace)) d.diag.print("Socket Version: %d.%d, high vers %d.%d\n", 1, 1, 1, 1);
  check_host(d);
  note_start(d);
  platform::start_stop_signal_thread([&d](int signal) { signal_shutdown(d, signal); });
  open_listener(d);
  d.channel.qdn_open();
  notify_ready(d);
  return request_loop(d);
}

void signal_shutdown(Daemon& d, int signal) {
  d.server.shutdown_requested = 1;
  char line[64];
  std::snprintf(line, sizeof line, "***** Halted - signal(%d) *****\n", signal);
  d.requests.write_line(line);
  if (d.diag.on(0x20000000)) {
    d.diag.print("%s: shutdown (signal %d)\n%s: %s", d.server.program_name, signal,
                 d.server.program_name, line);
  }
  for (const CommandRow* row = command_table; row->prefix != nullptr; ++row) {
    if (row->cleanup != nullptr) row->cleanup(d);
  }
  platform::socket_t s = d.server.listener.exchange(platform::kInvalidSocket);
  if (s != platform::kInvalidSocket) {
    platform::shutdown_both(s);  // wakes the accept of the server thread
    platform::close_socket(s);
    if (d.diag.on(kSocketTrace)) d.diag.print("%s: socket closed\n", d.server.program_name);
  }
  if (d.diag.flags() != 0) d.diag.print("%s: exit\n", d.server.program_name);
  std::exit(0);
}

void exit_cleanup(Daemon& d) {
  if (!d.events.is_open()) d.events.open_for_append();
  platform::debug_output("TAVRO: program exiting.\n");
  d.events.write(kSourceLxs, kLevelNotice, "Program exiting");
  close_driver_resources(d);
}

}  // namespace tavro
