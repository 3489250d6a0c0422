// A client of the daemon's text protocol: one request per connection, the
// reply read to the end of the stream within a deadline and a size cap.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tavroctl/reply.h"

namespace tavroctl {

// The private tree and its branches as the daemon names them.
inline constexpr std::string_view kEnterprise = ".1.3.6.1.4.1.48217";
inline constexpr std::string_view kAgentTree = ".1.3.6.1.4.1.48217.3.";

class Client {
 public:
  using Clock = std::chrono::steady_clock;
  // Replies are at most a message buffer (4096 bytes); this leaves room to
  // spare without letting a stray peer fill the memory.
  static constexpr std::size_t kReplyCap = 1 << 20;
  // Sends one request line and returns the raw reply as kOk, or what went
  // wrong; the network by default, a fake peer in tests.
  using Transport = std::function<Reply(const std::string& line, Clock::time_point deadline)>;

  // The time-out holds for each request and for all of them together, from
  // now (or the last restart).
  Client(std::string host, std::string port, std::chrono::milliseconds timeout,
         Transport transport = nullptr)
      : host_(std::move(host)),
        port_(std::move(port)),
        timeout_(timeout),
        transport_(std::move(transport)) {}

  // Sends the request (a line end added) and classifies what comes back. A
  // failed connection is kCannotConnect with the reason in text.
  Reply ask(std::string_view request) const;
  // The same for several requests, each on a connection of its own, sent
  // before any reply is read: the daemon answers one after the other without
  // waiting for tavroctl in between. The replies in the order asked.
  std::vector<Reply> ask_all(const std::vector<std::string>& requests) const;
  // A new whole-command time-out from now (each round of log --follow).
  void restart() { end_ = Clock::now() + timeout_; }
  // FCGET of an object below the agent tree, e.g. "3.1.0".
  Reply agent(std::string_view suffix) const {
    return ask("FCGET " + std::string(kAgentTree) + std::string(suffix));
  }
  Reply hbaapi(std::string_view text) const { return ask("HBAAPI " + std::string(text)); }

  std::string where() const { return host_ + ":" + port_; }
  const std::string& host() const { return host_; }

 private:
  Reply exchange(const std::string& line, Clock::time_point deadline) const;
  // Connects and sends the line; the socket, or -1 with the failure in r.
  int send_request(const std::string& line, Clock::time_point deadline, Reply& r) const;
  Reply read_reply(int socket, Clock::time_point deadline) const;
  Clock::time_point next_deadline() const { return std::min(Clock::now() + timeout_, end_); }
  Reply finish(Reply r, std::string_view request, Clock::time_point deadline) const;
  int connect_socket(std::string& reason, Clock::time_point deadline) const;

  std::string host_, port_;
  std::chrono::milliseconds timeout_;
  Clock::time_point end_ = Clock::now() + timeout_;
  Transport transport_;
};

}  // namespace tavroctl
