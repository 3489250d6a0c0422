// Runs the real tavro binary for end-to-end tests and talks to it over TCP.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace tavro::testing {

using namespace std::chrono_literals;

// The directory that holds the built programs and run-time libraries.
std::string binary_dir();
// A fresh empty directory, removed when the test program ends.
std::string make_temp_dir();
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

// Polls until the file holds needle; false on time-out.
bool wait_for_text(const std::string& path, const std::string& needle,
                   std::chrono::milliseconds timeout = 5s);

// How often what stands in text, overlaps counted.
int occurrences(const std::string& text, const std::string& what);

// A TCP port that was free a moment ago.
int free_port();

struct DaemonOptions {
  std::vector<std::string> args;                         // after the program word
  std::vector<std::pair<std::string, std::string>> env;  // added to the environment
  std::string working_dir;                               // default: a new temp dir
  bool add_port = true;                                  // prepend "-port <free port>"
  bool wait_ready = true;                                // wait until the port answers
  int port = 0;         // without add_port: the port the daemon is expected on, if any
  std::string program;  // default: the built tavro
  // Where standard output and error go: a file (output()), a pipe whose reader
  // has gone, or nowhere (closed, so the first files the daemon opens would
  // take their numbers).
  enum class Output { kFile, kBrokenPipe, kClosed } output = Output::kFile;
};

class DaemonProcess {
 public:
  explicit DaemonProcess(DaemonOptions options);
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& dir() const { return dir_; }
  // What the daemon wrote to standard output and standard error so far.
  std::string output() const;

  // Sends a signal and waits up to ten seconds for the exit: the exit status,
  // or 128 + signal when it was killed, or -1 on time-out.
  int stop(int signal = 15);
  int wait_exit();  // the same without a signal
  bool running();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = -1;
  std::string dir_;
  std::string output_path_;
};

// Connects, sends text (nothing added; the sending side shut down when it
// holds no line end), and reads until the daemon closes.
std::string request(int port, const std::string& text, std::chrono::milliseconds timeout = 10s);
// A connected socket to the daemon, or -1.
int connect_to(int port);
// Reads until end of stream or time-out.
std::string read_all(int fd, std::chrono::milliseconds timeout = 10s);
// Sends text on a connected socket, ignoring a peer that has gone.
void send_text(int fd, const std::string& text);
// Closes with a reset rather than an orderly end of stream.
void close_with_reset(int fd);

struct ClientResult {
  int status = -1;
  std::string output;  // standard output (and standard error where the command joins it)
};
// Runs a shell command and collects its standard output.
ClientResult run_command(const std::string& command);

struct Exchange {
  std::string request, reply;
};
// Sends each request on a connection of its own, in order; names every reply
// that differs from the one expected, one line each ("" when all match).
std::string mismatches(int port, const std::vector<Exchange>& exchanges);

// The text of a test data file, path below tests/ ("e2e/objects/reads.txt");
// throws when there is none.
std::string test_data(const std::string& path);
using Vars = std::vector<std::pair<std::string, std::string>>;
// The rows of a data file, one a line, their fields separated by tabs.
// "${name}" in a field stands for vars' value of name, and a field "\0" for a
// NUL byte; empty lines and lines starting with '#' are skipped.
std::vector<std::vector<std::string>> read_rows(const std::string& path, const Vars& vars = {});
// The exchanges of a data file of rows of a request and its reply; each
// request is sent with a newline added. A row of another shape throws.
std::vector<Exchange> read_exchanges(const std::string& path, const Vars& vars = {});
// text with each "${name}" replaced by vars' value of name.
std::string expand(std::string text, const Vars& vars);

}  // namespace tavro::testing
