#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/message_loop.h"
#include "platform/net.h"

namespace {

// The request log names a client by this address when its name is unknown.
TEST(Net, PeerAddressOfAnAcceptedConnection) {
  platform::socket_t listener = platform::tcp_socket();
  ASSERT_EQ(platform::bind_any(listener, 0), 0);
  platform::listen_socket(listener, 8);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  platform::socket_t server = platform::accept_connection(listener);
  std::uint8_t ip[4] = {};
  EXPECT_EQ(platform::peer_address(server, ip), 0);
  EXPECT_EQ(ip[0] << 24 | ip[1] << 16 | ip[2] << 8 | ip[3], 0x7F000001);
  ::close(client);
  platform::close_socket(server);
  platform::close_socket(listener);
}

TEST(MessageLoop, RunsPostedMessagesInOrderUntilQuit) {
  platform::MessageLoop loop;
  std::string order;
  std::thread poster([&] {
    loop.post([&] { order += 'a'; });
    loop.post([&] { order += 'b'; });
    loop.post([&] { loop.post_quit(5); });
  });
  EXPECT_EQ(loop.run(), 5);
  poster.join();
  EXPECT_EQ(order, "ab");
  EXPECT_FALSE(loop.post([&] { order += 'c'; }));
}

}  // namespace
