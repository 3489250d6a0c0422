// The least a server can do per connection: accept, read once, reply, close.
// The daemon's request rate is read as a ratio to this one's.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int port = std::atoi(argv[1]);
  const char* reply = argc > 2 ? argv[2] : "3.3 Build 43";
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
    if (::recv(c, buf, 4096, 0) > 0) ::send(c, reply, std::strlen(reply), MSG_NOSIGNAL);
    ::shutdown(c, SHUT_WR);
    ::close(c);
  }
}
