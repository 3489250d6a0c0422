#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

socket_t tcp_socket() {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

int set_reuse_address(socket_t s) {
  int one = 1;
  return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

int bind_any(socket_t s, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  return ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
}

const char* listen_address() {
  const char* address = std::getenv(kListenAddressVariable);
  return address != nullptr && *address != '\0' ? address : "0.0.0.0";
}

int bind_listen_address(socket_t s, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, listen_address(), &addr.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  return ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
}

int listen_socket(socket_t s, int backlog) {
  return ::listen(s, backlog);
}

namespace {

// Errors of one pending connection that Linux reports through accept; the
// listening socket itself is fine, so the caller should simply accept again.
bool connection_error(int error) {
  switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case ENETDOWN:
    case ETIMEDOUT:
      return true;
    default:
      return false;
  }
}

// Running out of descriptors or memory passes; wait a little and try again.
bool resource_shortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

socket_t accept_connection(socket_t listener) {
  for (;;) {
    socket_t c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c >= 0) return c;
    int error = errno;
    if (resource_shortage(error)) {
      ::poll(nullptr, 0, 100);
    } else if (!connection_error(error)) {
      errno = error;
      return c;
    }
  }
}

namespace {

struct SendDeadline {
  socket_t socket = kInvalidSocket;
  std::chrono::steady_clock::time_point at;
};
thread_local SendDeadline send_deadline;

struct Filter {
  socket_t socket = kInvalidSocket;
  SendFilter filter = nullptr;
  void* context = nullptr;
};
thread_local Filter send_filter;

// Waits for room to send, until the deadline when there is one; false at the
// deadline (errno EAGAIN) or on error.
bool wait_writable(socket_t s, const std::chrono::steady_clock::time_point* deadline) {
  for (;;) {
    int timeout = -1;
    if (deadline != nullptr) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline -
                                                               std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        errno = EAGAIN;
        return false;
      }
      timeout = left.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left.count());
    }
    pollfd p{s, POLLOUT, 0};
    int r = ::poll(&p, 1, timeout);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
}

ssize_t send_until(socket_t s, const void* buf, std::size_t len,
                   const std::chrono::steady_clock::time_point* deadline) {
  const char* p = static_cast<const char*>(buf);
  std::size_t sent = 0;
  while (sent < len) {
    ssize_t n = ::send(s, p + sent, len - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable(s, deadline)) continue;
    return sent > 0 ? static_cast<ssize_t>(sent) : -1;
  }
  return static_cast<ssize_t>(sent);
}

}  // namespace

void set_send_deadline(socket_t s, std::chrono::steady_clock::time_point deadline) {
  send_deadline = {s, deadline};
}

void clear_send_deadline() {
  send_deadline = {};
}

void set_send_filter(socket_t s, SendFilter filter, void* context) {
  send_filter = {s, filter, context};
}

void clear_send_filter() {
  send_filter = {};
}

ssize_t recv_bytes(socket_t s, void* buf, std::size_t len) {
  for (;;) {
    ssize_t n = ::recv(s, buf, len, 0);
    if (n >= 0 || errno != EINTR) return n;
  }
}

ssize_t send_bytes(socket_t s, const void* buf, std::size_t len) {
  if (send_filter.socket == s && s != kInvalidSocket) {
    return send_filter.filter(send_filter.context, buf, len);
  }
  return send_until(s, buf, len, send_deadline.socket == s ? &send_deadline.at : nullptr);
}

ssize_t send_bytes_until(socket_t s, const void* buf, std::size_t len,
                         std::chrono::steady_clock::time_point deadline) {
  return send_until(s, buf, len, &deadline);
}

int shutdown_send(socket_t s) {
  return ::shutdown(s, SHUT_WR);
}
int shutdown_both(socket_t s) {
  return ::shutdown(s, SHUT_RDWR);
}
int close_socket(socket_t s) {
  return ::close(s);
}

int wait_readable(socket_t s, int timeout_ms) {
  pollfd p{s, POLLIN, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeout_ms);
    if (r >= 0 || errno != EINTR) return r > 0 ? 1 : r;
  }
}

int host_name(char* out, std::size_t cap) {
  if (::gethostname(out, cap) != 0) return -1;
  out[cap - 1] = '\0';
  return 0;
}

int lookup_host(const char* name, int* family) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) return -1;
  *family = result->ai_family;
  ::freeaddrinfo(result);
  return 0;
}

int peer_address(socket_t s, std::uint8_t ip[4]) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
  std::memcpy(ip, &addr.sin_addr.s_addr, 4);
  return 0;
}

int peer_host_name(socket_t s, char* out, std::size_t cap) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
  return ::getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, out, static_cast<socklen_t>(cap),
                       nullptr, 0, NI_NAMEREQD) == 0
             ? 0
             : -1;
}

}  // namespace platform
