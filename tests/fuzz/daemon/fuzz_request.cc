// One request through the daemon's request loop and command table, with the
// reply read back from the other end of a socket pair.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "daemon/daemon.h"
#include "daemon/message.h"
#include "daemon/server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tavro::Daemon* daemon = [] {
    auto* d = new tavro::Daemon;
    d->settings.recv_timeout = 0;
    d->diag.set_stdout(false);
    return d;
  }();
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  std::size_t length = size < 8192 ? size : 8192;
  if (length > 0) ::send(pair[0], data, length, MSG_NOSIGNAL);
  ::shutdown(pair[0], SHUT_WR);
  std::thread reader([fd = pair[0]] {
    char sink[4096];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
  });
  auto buffer = std::make_unique<char[]>(tavro::kMessageSize + 1);
  tavro::serve_connection(*daemon, pair[1], buffer.get());
  reader.join();
  ::close(pair[0]);
  return 0;
}
