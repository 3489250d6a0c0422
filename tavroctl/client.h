// A client of the daemon's text protocol: one request per connection, the
// reply read to the end of the stream within a deadline and a size cap.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "tavroctl/reply.h"

namespace tavroctl {

// The private tree and its branches as the daemon names them.
inline constexpr std::string_view kEnterprise = ".1.3.6.1.4.1.48217";
inline constexpr std::string_view kAgentTree = ".1.3.6.1.4.1.48217.3.";

class Client {
 public:
  // Replies are at most a message buffer (4096 bytes); this leaves room to
  // spare without letting a stray peer fill the memory.
  static constexpr std::size_t kReplyCap = 1 << 20;

  Client(std::string host, std::string port, std::chrono::milliseconds timeout)
      : host_(std::move(host)), port_(std::move(port)), timeout_(timeout) {}

  // Sends the request (a line end added) and classifies what comes back. A
  // failed connection is kCannotConnect with the reason in text.
  Reply ask(std::string_view request) const;
  // FCGET of an object below the agent tree, e.g. "3.1.0".
  Reply agent(std::string_view suffix) const {
    return ask("FCGET " + std::string(kAgentTree) + std::string(suffix));
  }
  Reply hbaapi(std::string_view text) const { return ask("HBAAPI " + std::string(text)); }

  std::string where() const { return host_ + ":" + port_; }

 private:
  int connect_socket(std::string& reason) const;

  std::string host_, port_;
  std::chrono::milliseconds timeout_;
};

}  // namespace tavroctl
