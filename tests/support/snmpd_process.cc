#include "tests/support/snmpd_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace tavro::testing {
namespace {

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

bool wait_until(const std::chrono::milliseconds timeout, auto ready) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

bool snmp_tools_present() {
  return ::access(kSnmpdProgram, X_OK) == 0 && ::access("/usr/bin/snmpget", X_OK) == 0;
}

SnmpdProcess::SnmpdProcess(std::vector<std::string> extra) : dir_(make_temp_dir()) {
  port_ = free_port();
  std::string conf =
      "master agentx\n"
      "agentXSocket " +
      agentx() +
      "\n"
      "agentXTimeout 15\n"
      "agentXRetries 0\n"
      "rocommunity public 127.0.0.1\n"
      "rwcommunity private 127.0.0.1\n"
      "persistentDir " +
      dir_ + "/persist\n";
  for (const std::string& line : extra) conf += line + "\n";
  write_file(dir_ + "/snmpd.conf", conf);
  start();
}

void SnmpdProcess::start() {
  DaemonOptions options;
  options.program = kSnmpdProgram;
  options.add_port = false;
  options.wait_ready = false;
  options.args = {"-f",
                  "-Lf",
                  dir_ + "/snmpd.log",
                  "-C",
                  "-c",
                  dir_ + "/snmpd.conf",
                  "-p",
                  dir_ + "/snmpd.pid",
                  "udp:127.0.0.1:" + std::to_string(port_)};
  options.env = {{"MIBS", ""}, {"MIBDIRS", "/dev/null"}, {"SNMPCONFPATH", dir_}};
  process_ = std::make_unique<DaemonProcess>(options);
  std::string socket = dir_ + "/agentx.sock";
  wait_until(std::chrono::seconds(10), [&] { return ::access(socket.c_str(), F_OK) == 0; });
}

void SnmpdProcess::restart() {
  process_->stop();
  ::unlink((dir_ + "/agentx.sock").c_str());
  start();
}

ClientResult snmp_client(const std::string& tool, const SnmpdProcess& snmpd,
                         const std::vector<std::string>& args, const std::string& community) {
  std::string command = "MIBS= MIBDIRS=/dev/null SNMPCONFPATH=" + quoted(snmpd.dir()) + " " + tool +
                        " -v2c -c " + community +
                        " -r 0 -t 20 -On 127.0.0.1:" + std::to_string(snmpd.port());
  for (const std::string& a : args) command += " " + quoted(a);
  command += " 2>&1";
  ClientResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::unique_ptr<DaemonProcess> start_bridge(const SnmpdProcess& snmpd,
                                            const std::vector<std::string>& agents,
                                            std::vector<std::pair<std::string, std::string>> env) {
  DaemonOptions options;
  options.program = binary_dir() + "/tavro-snmpd-bridge";
  options.add_port = false;
  options.wait_ready = false;
  options.args = {"-x", snmpd.agentx()};
  options.args.insert(options.args.end(), agents.begin(), agents.end());
  // Never the host's own debug log.
  bool named = false;
  for (const auto& [name, value] : env) named = named || name == "TAVRO_SNMP_DEBUG_LOG";
  if (!named) env.emplace_back("TAVRO_SNMP_DEBUG_LOG", make_temp_dir() + "/qsnmpdbg.log");
  options.env = std::move(env);
  auto bridge = std::make_unique<DaemonProcess>(options);
  wait_until(std::chrono::seconds(10), [&] {
    return !bridge->running() || bridge->output().find("registered") != std::string::npos;
  });
  return bridge;
}

}  // namespace tavro::testing
