#include "tavroctl/client.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavroctl {
namespace {

using Clock = std::chrono::steady_clock;

int left_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits for the socket to become ready for events; false on time-out.
bool wait_for(int fd, short events, Clock::time_point deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, left_ms(deadline));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// Connects without blocking past the deadline; the socket or -1.
int connect_one(const addrinfo* a, Clock::time_point deadline, int& error) {
  int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
  if (s < 0) {
    error = errno;
    return -1;
  }
  if (::connect(s, a->ai_addr, a->ai_addrlen) != 0 && errno == EINPROGRESS) {
    socklen_t length = sizeof error;
    error = wait_for(s, POLLOUT, deadline) ? 0 : ETIMEDOUT;
    if (error == 0) ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
  } else {
    error = errno;
  }
  if (error == 0) return s;
  ::close(s);
  return -1;
}

bool send_all(int fd, std::string_view text, Clock::time_point deadline) {
  while (!text.empty()) {
    ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EAGAIN && wait_for(fd, POLLOUT, deadline)) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

int Client::connect_socket(std::string& reason, Clock::time_point deadline) const {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int rc = ::getaddrinfo(host_.c_str(), port_.c_str(), &hints, &found); rc != 0) {
    reason = ::gai_strerror(rc);
    return -1;
  }
  int s = -1, error = 0;
  for (const addrinfo* a = found; a != nullptr && s < 0; a = a->ai_next)
    s = connect_one(a, deadline, error);
  ::freeaddrinfo(found);
  if (s < 0) reason = std::strerror(error);
  return s;
}

int Client::send_request(const std::string& line, Clock::time_point deadline, Reply& r) const {
  std::string reason;
  int s = connect_socket(reason, deadline);
  if (s < 0)
    r = {Outcome::kCannotConnect, reason};
  else if (send_all(s, line, deadline))
    ::shutdown(s, SHUT_WR);
  return s;
}

// What the peer sent until it closed; an empty reply is a closed or reset
// connection, told apart from one that is still open at the deadline.
Reply Client::read_reply(int s, Clock::time_point deadline) const {
  Reply r{Outcome::kOk, ""};
  char buffer[4096];
  for (;;) {
    if (!wait_for(s, POLLIN, deadline)) {
      r = {Outcome::kNoReply, r.text.empty() ? "no reply" : "reply cut off"};
      break;
    }
    ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0 && r.text.empty()) r = {Outcome::kNoReply, "connection reset without a reply"};
    if (n == 0 && r.text.empty()) r = {Outcome::kNoReply, "connection closed without a reply"};
    if (n <= 0) break;
    r.text.append(buffer, static_cast<std::size_t>(n));
    if (r.text.size() > kReplyCap) {
      r = {Outcome::kBadReply, "a reply longer than " + std::to_string(kReplyCap) + " bytes"};
      break;
    }
  }
  ::close(s);
  return r;
}

Reply Client::exchange(const std::string& line, Clock::time_point deadline) const {
  Reply r;
  int s = send_request(line, deadline, r);
  return s < 0 ? r : read_reply(s, deadline);
}

namespace {

// The daemon takes one line of at most a message buffer; anything after a
// line end would be dropped unseen, so such a request is not sent.
bool sendable(std::string_view request) {
  return request.find_first_of("\r\n") == std::string_view::npos && request.size() < 4096;
}

Reply unsendable(std::string_view request) {
  return {Outcome::kUsage, "a request is one line of less than 4096 bytes", std::string(request)};
}

}  // namespace

Reply Client::finish(Reply r, std::string_view request, Clock::time_point deadline) const {
  if (r.ok()) r = classify(std::move(r.text));
  if (r.outcome == Outcome::kNoReply && (r.text == "no reply" || r.text == "reply cut off")) {
    const auto seconds = std::to_string(timeout_.count() / 1000.0);
    r.text += " within --timeout " + seconds.substr(0, seconds.find('.') + 2) + " s" +
              (deadline == end_ ? " for the whole command" : "");
  }
  r.request = request;
  return r;
}

Reply Client::ask(std::string_view request) const {
  if (!sendable(request)) return unsendable(request);
  const auto deadline = next_deadline();
  const std::string line = std::string(request) + "\n";
  return finish(transport_ ? transport_(line, deadline) : exchange(line, deadline), request,
                deadline);
}

std::vector<Reply> Client::ask_all(const std::vector<std::string>& requests) const {
  // No more connections open at once than a small batch.
  constexpr std::size_t kInFlight = 16;
  std::vector<Reply> replies;
  for (std::size_t first = 0; first < requests.size(); first += kInFlight) {
    const std::size_t end = std::min(requests.size(), first + kInFlight);
    std::vector<std::pair<int, Reply>> sent;
    const auto deadline = next_deadline();
    for (std::size_t i = first; i < end; ++i) {
      Reply r;
      const bool direct = !transport_ && sendable(requests[i]);
      sent.emplace_back(direct ? send_request(requests[i] + "\n", deadline, r) : -1, r);
    }
    for (std::size_t i = first; i < end; ++i) {
      auto& [socket, failed] = sent[i - first];
      if (transport_ || !sendable(requests[i]))
        replies.push_back(ask(requests[i]));
      else
        replies.push_back(
            finish(socket < 0 ? failed : read_reply(socket, deadline), requests[i], deadline));
    }
  }
  return replies;
}

}  // namespace tavroctl
