#include "platform/net.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

namespace {

struct Pair {
  Pair() {
    listener = platform::tcp_socket();
    platform::set_reuse_address(listener);
    EXPECT_EQ(platform::bind_any(listener, 0), 0);
    platform::listen_socket(listener, 8);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    client = ::socket(AF_INET, SOCK_STREAM, 0);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    server = platform::accept_connection(listener);
  }
  ~Pair() {
    ::close(client);
    platform::close_socket(server);
    platform::close_socket(listener);
  }
  platform::socket_t listener, client, server;
};

TEST(Net, AcceptedConnectionsDoNotBlockAndWaitReportsReadiness) {
  Pair p;
  char buf[8] = {};
  EXPECT_EQ(platform::recv_bytes(p.server, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(platform::wait_readable(p.server, 0), 0);
  ::send(p.client, "abc", 3, 0);
  EXPECT_EQ(platform::wait_readable(p.server, 1000), 1);
  EXPECT_EQ(platform::recv_bytes(p.server, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(Net, SendToAClientThatClosedFailsWithoutSigpipe) {
  Pair p;
  ::close(p.client);  // an orderly close: the peer's FIN, then its RST to our data
  p.client = ::socket(AF_INET, SOCK_STREAM, 0);
  std::string big(1 << 20, 'x');
  ssize_t sent = 0;
  // Once the RST is in, send() fails with EPIPE, which raises SIGPIPE without MSG_NOSIGNAL.
  for (int i = 0; i < 50 && sent >= 0; ++i) {
    sent = platform::send_bytes(p.server, big.data(), big.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(sent, -1);
}

TEST(Net, PeerAddressAndName) {
  Pair p;
  std::uint8_t ip[4];
  ASSERT_EQ(platform::peer_address(p.server, ip), 0);
  EXPECT_EQ(ip[0], 127);
  EXPECT_EQ(ip[3], 1);
  char name[256];
  if (platform::peer_host_name(p.server, name, sizeof name) == 0) {
    EXPECT_STRNE(name, "");
  }
  char host[128];
  EXPECT_EQ(platform::host_name(host, sizeof host), 0);
}

}  // namespace
