#include "tests/support/daemon_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tavro::testing {

std::string binary_dir() {
  return TAVRO_BINARY_DIR;
}

namespace {

// Temporary directories are removed when the test program ends (not in the
// children it forks).
struct TempDirs : std::vector<std::string> {
  ~TempDirs() {
    for (const auto& dir : *this)
      if (::getpid() == owner) std::filesystem::remove_all(dir);
  }
  pid_t owner = ::getpid();
  std::mutex mutex;
};

// Polls every step until done() holds; false on time-out.
template <typename Done>
bool poll_until(Done done, std::chrono::milliseconds timeout, std::chrono::milliseconds step) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(step);
  }
  return true;
}

// A new socket bound to the port on every address, or connected to it on
// the loopback address; -1 when that fails.
int socket_at(int port, bool connect) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{AF_INET,
                   htons(static_cast<std::uint16_t>(port)),
                   {htonl(connect ? INADDR_LOOPBACK : INADDR_ANY)},
                   {}};
  auto* a = reinterpret_cast<sockaddr*>(&addr);
  if ((connect ? ::connect(s, a, sizeof addr) : ::bind(s, a, sizeof addr)) == 0) return s;
  ::close(s);
  return -1;
}

}  // namespace

std::string make_temp_dir() {
  static TempDirs temp;
  std::string pattern = "/tmp/tavro-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  std::lock_guard lock(temp.mutex);
  temp.push_back(pattern);
  return pattern;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool wait_for_text(const std::string& path, const std::string& needle,
                   std::chrono::milliseconds timeout) {
  auto found = [&] { return read_file(path).find(needle) != std::string::npos; };
  return poll_until(found, timeout, 2ms);
}

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Picks from below the kernel's ephemeral range, so a port handed to a
// daemon cannot meanwhile become the local port of some client connection.
int free_port() {
  static std::mt19937 rng(static_cast<unsigned>(::getpid()) * 7919u);
  for (;;) {
    int port = 20000 + static_cast<int>(rng() % 12000);
    if (int s = socket_at(port, false); s >= 0) {
      ::close(s);
      return port;
    }
  }
}

int connect_to(int port) {
  return socket_at(port, true);
}

std::string read_all(int fd, std::chrono::milliseconds timeout) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[4096];
  for (ssize_t n = 1; n > 0;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    if ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

void close_with_reset(int fd) {
  linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
}

void send_text(int fd, const std::string& text) {
  ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

std::string mismatches(int port, const std::vector<Exchange>& exchanges) {
  std::string out;
  for (const auto& [text, reply] : exchanges) {
    std::string got = request(port, text);
    if (got != reply)
      out += "request \"" + text + "\": got \"" + got + "\", want \"" + reply + "\"\n";
  }
  return out;
}

std::string test_data(const std::string& path) {
  const std::string full = std::string(TAVRO_TESTS_DIR) + "/" + path;
  if (::access(full.c_str(), R_OK) != 0) throw std::runtime_error("no test data " + full);
  return read_file(full);
}

std::string expand(std::string text, const Vars& vars) {
  for (const auto& [name, value] : vars) {
    const std::string key = "${" + name + "}";
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
      text.replace(at, key.size(), value);
  }
  return text;
}

std::vector<std::vector<std::string>> read_rows(const std::string& path, const Vars& vars) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(test_data(path));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string>& row = rows.emplace_back();
    for (std::size_t at = 0, tab = 0; tab != std::string::npos; at = tab + 1) {
      tab = line.find('\t', at);
      row.push_back(expand(line.substr(at, tab - at), vars));
      if (row.back() == "\\0") row.back() = std::string(1, '\0');
    }
  }
  return rows;
}

std::vector<Exchange> read_exchanges(const std::string& path, const Vars& vars) {
  std::vector<Exchange> out;
  for (const auto& row : read_rows(path, vars)) {
    if (row.size() != 2) throw std::runtime_error(path + ": not request, tab, reply: " + row[0]);
    out.push_back({row[0] + "\n", row[1]});
  }
  return out;
}

ClientResult run_command(const std::string& command) {
  ClientResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.output.append(buffer, n);
  }
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string request(int port, const std::string& text, std::chrono::milliseconds timeout) {
  int s = connect_to(port);
  if (s < 0) return "<connect failed>";
  send_text(s, text);
  // Without a line end the request is whole when the sending side is shut
  // (HTTP servers may take that for a client that has gone).
  if (text.find_first_of("\r\n") == std::string::npos) ::shutdown(s, SHUT_WR);
  std::string reply = read_all(s, timeout);
  ::close(s);
  return reply;
}

DaemonProcess::DaemonProcess(DaemonOptions options) {
  dir_ = options.working_dir.empty() ? make_temp_dir() : options.working_dir;
  output_path_ = dir_ + "/daemon.out";
  // The driver settings live in the daemon's own folder, never the host's.
  std::string registry = dir_ + "/registry";
  ::mkdir(registry.c_str(), 0755);
  std::vector<std::string> args{options.program.empty() ? binary_dir() + "/tavro"
                                                        : options.program};
  port_ = options.add_port ? free_port() : options.port;
  if (options.add_port) args.insert(args.end(), {"-port", std::to_string(port_)});
  args.insert(args.end(), options.args.begin(), options.args.end());

  // Standard output and error: the file, or a pipe whose reader is closed at once.
  int out = -1;
  if (options.output != DaemonOptions::Output::kBrokenPipe) {
    out = ::open(output_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } else if (int ends[2]; ::pipe2(ends, O_CLOEXEC) == 0) {
    ::close(ends[0]);
    out = ends[1];
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    if (::chdir(dir_.c_str()) != 0 || out < 0) _exit(127);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (options.output == DaemonOptions::Output::kClosed) ::close_range(1, 2, 0);
    // Power events come from a bus a test starts itself, never the host's.
    ::setenv("TAVRO_POWER_BUS", "unix:path=/nonexistent/tavro-test-bus", 1);
    ::setenv("TAVRO_REGISTRY_DIR", registry.c_str(), 1);
    for (auto& [name, value] : options.env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv(args.size() + 1);
    std::transform(args.begin(), args.end(), argv.begin(), [](auto& a) { return a.data(); });
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  if (out >= 0) ::close(out);
  if (port_ == 0 || !options.wait_ready) return;
  int s = -1;
  poll_until([&] { return (s = connect_to(port_)) >= 0; }, 5s, 10ms);
  // A connection without a request is dropped by the daemon at its receive
  // deadline; reset it at once so it does not hold the loop.
  if (s >= 0) close_with_reset(s);
}

DaemonProcess::~DaemonProcess() {
  stop(SIGKILL);
}

std::string DaemonProcess::output() const {
  return read_file(output_path_);
}

bool DaemonProcess::running() {
  int status = 0;
  if (status_ != -1 || pid_ <= 0) return false;
  if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return false;
}

int DaemonProcess::wait_exit() {
  auto ended = [this] { return !running(); };
  return poll_until(ended, 10s, 5ms) ? status_ : -1;
}

int DaemonProcess::stop(int signal) {
  if (running()) ::kill(pid_, signal);
  return wait_exit();
}

}  // namespace tavro::testing
