// Thin TCP socket layer over POSIX sockets, shaped after the operations the
// request loop needs. Error codes are errno values; sends never raise SIGPIPE.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace platform {

using socket_t = int;
inline constexpr socket_t kInvalidSocket = -1;

int last_socket_error();
void clear_socket_error();
bool is_would_block(int error);

socket_t tcp_socket();
int set_reuse_address(socket_t s);
int bind_any(socket_t s, std::uint16_t port);
int listen_socket(socket_t s, int backlog);
socket_t accept_connection(socket_t listener);
int set_nonblocking(socket_t s, bool on);
// A blocking send gives up after this many seconds (0 or less: never).
int set_send_timeout(socket_t s, int seconds);
ssize_t recv_bytes(socket_t s, void* buf, std::size_t len, bool peek = false);
ssize_t send_bytes(socket_t s, const void* buf, std::size_t len);
int shutdown_send(socket_t s);
int shutdown_both(socket_t s);
int close_socket(socket_t s);

// Waits until the socket has bytes (or end of stream) to read. Returns 1 when
// readable, 0 on time-out, -1 on error. A negative timeout waits forever.
int wait_readable(socket_t s, int timeout_ms);

int host_name(char* out, std::size_t cap);
// Resolves a host name; on success stores the address family and returns 0.
int lookup_host(const char* name, int* family);
// The peer's IPv4 address; returns 0 on success, else sets errno and returns -1.
int peer_address(socket_t s, std::uint8_t ip[4]);
// Reverse lookup of the peer's address; returns 0 when a name was found.
int peer_host_name(socket_t s, char* out, std::size_t cap);

}  // namespace platform
