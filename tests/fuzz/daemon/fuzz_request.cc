// One request through the daemon's request loop and command table, with the
// reply read back from the other end of a socket pair. FCGET, FCSET, the
// debug page and the request log are enabled, so that object requests and
// LOGREAD reach their parsers; the logs live in a private folder and are cut
// back now and then. Whatever came, every line either log gains is one
// well-formed record: a time stamp or a "*****" marker, no zero byte.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "base/message.h"
#include "daemon/daemon.h"
#include "daemon/server.h"

namespace {

// Checks the lines added to the file since offset; the new end of the file.
std::size_t check_records(const char* path, std::size_t offset) {
  static const std::regex record(
      R"(([A-Z][a-z]{2} [ 0-9][0-9] \d\d:\d\d:\d\d \d{4}[: ].*)|(\*{5} .*))");
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string added((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (added.find('\0') != std::string::npos || (!added.empty() && added.back() != '\n'))
    __builtin_trap();
  for (std::size_t at = 0, end; (end = added.find('\n', at)) != std::string::npos; at = end + 1)
    if (!std::regex_match(added.substr(at, end - at), record)) __builtin_trap();
  return offset + added.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tavro::Daemon* daemon = [] {
    auto* d = new tavro::Daemon;
    tavro::Settings& s = d->settings;
    s.recv_timeout = 0;
    s.fc_get_req = tavro::kEnabled;
    s.fc_set_req = tavro::kEnabled;
    s.debug_req = tavro::kEnabled;
    s.log_flags = 0xFFFF;
    s.fc_log_flags = 0xFF;
    char folder[] = "/tmp/tavro-fuzz-XXXXXX";
    if (::mkdtemp(folder) != nullptr) {
      std::snprintf(s.base_dir, sizeof s.base_dir, "%s", folder);
      std::snprintf(s.log_file, sizeof s.log_file, "%s/requests.log", folder);
      std::snprintf(s.fc_log_file, sizeof s.fc_log_file, "%s/events.log", folder);
      std::snprintf(s.default_html, sizeof s.default_html, "%s/index.html", folder);
      if (std::FILE* page = std::fopen(s.default_html, "w")) {
        std::fputs("<html>tavro</html>\n", page);
        std::fclose(page);
      }
    }
    for (const char* log : {s.log_file, s.fc_log_file})  // opened, never created
      if (std::FILE* f = std::fopen(log, "a")) std::fclose(f);
    d->diag.set_stdout(false);
    d->requests.open("***** Started *****\n");
    d->events.open();
    return d;
  }();
  static unsigned runs = 0;
  static std::size_t requests_seen = 0, events_seen = 0;
  if (++runs % 4096 == 0) {
    ::truncate(daemon->settings.log_file, 0);
    ::truncate(daemon->settings.fc_log_file, 0);
    requests_seen = events_seen = 0;
  }
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
  requests_seen = check_records(daemon->settings.log_file, requests_seen);
  events_seen = check_records(daemon->settings.fc_log_file, events_seen);
  return 0;
}
