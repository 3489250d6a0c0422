// Thin TCP socket layer over POSIX sockets, shaped after the operations the
// request loop needs. Error codes are errno values; sends never raise SIGPIPE.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace platform {

using socket_t = int;
inline constexpr socket_t kInvalidSocket = -1;

socket_t tcp_socket();
int set_reuse_address(socket_t s);
int bind_any(socket_t s, std::uint16_t port);
// The IPv4 address a daemon listens on: TAVRO_LISTEN_ADDRESS when set and not
// empty, otherwise any address.
inline constexpr const char* kListenAddressVariable = "TAVRO_LISTEN_ADDRESS";
const char* listen_address();
// Binds to listen_address(); -1 with errno EINVAL when it is no IPv4 address.
int bind_listen_address(socket_t s, std::uint16_t port);
int listen_socket(socket_t s, int backlog);
// Accepted connections are non-blocking: reads wait with wait_readable first,
// and sends wait for room until the connection's send deadline.
socket_t accept_connection(socket_t listener);
// Every send to s made by this thread from now on ends at this point in
// time, however many calls a reply takes; a send to another socket, or with
// no deadline set, waits as long as it must.
void set_send_deadline(socket_t s, std::chrono::steady_clock::time_point deadline);
void clear_send_deadline();
// While set, every send_bytes to s made by this thread goes to filter instead,
// which returns what send_bytes would.
using SendFilter = ssize_t (*)(void* context, const void* buf, std::size_t len);
void set_send_filter(socket_t s, SendFilter filter, void* context);
void clear_send_filter();
ssize_t recv_bytes(socket_t s, void* buf, std::size_t len);
// Sends all bytes or as many as fit before the deadline; returns the count
// sent, or -1 when nothing was sent (errno EAGAIN at the deadline).
ssize_t send_bytes(socket_t s, const void* buf, std::size_t len);
// The same with a deadline of its own, for any thread; no filter applies.
ssize_t send_bytes_until(socket_t s, const void* buf, std::size_t len,
                         std::chrono::steady_clock::time_point deadline);
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
