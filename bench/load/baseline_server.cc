// The least a server can do per connection: accept, read once, reply, close.
// The daemon's request rate is read as a ratio to this one's.
//
//   bench_baseline_server PORT [REPLY]         replies with the text (REV's by default)
//   bench_baseline_server PORT --file PATH     replies with a file served over HTTP,
//                                              read into memory once at start
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string reply_from(int argc, char** argv) {
  if (argc > 3 && std::strcmp(argv[2], "--file") == 0) {
    std::ifstream in(argv[3], std::ios::binary);
    return "HTTP/1.0 200 OK\n\n" +
           std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return argc > 2 ? argv[2] : "3.3 Build 43";
}

void send_all(int c, const std::string& reply) {
  std::size_t sent = 0;
  while (sent < reply.size()) {
    ssize_t n = ::send(c, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int port = std::atoi(argv[1]);
  const std::string reply = reply_from(argc, argv);
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
  ::listen(s, 8);
  char buf[4097];
  for (;;) {
    int c = ::accept(s, nullptr, nullptr);
    if (c < 0) continue;
    if (::recv(c, buf, 4096, 0) > 0) send_all(c, reply);
    ::shutdown(c, SHUT_WR);
    ::close(c);
  }
}
