#include "tests/support/snmpd_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

namespace tavro::testing {
namespace {

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

using Ids = std::vector<std::uint32_t>;

Ids ids_of(const std::string& name) {
  Ids ids;
  std::istringstream in(name);
  for (std::string part; std::getline(in, part, '.');) {
    if (!part.empty()) ids.push_back(static_cast<std::uint32_t>(std::stoul(part)));
  }
  return ids;
}

std::string name_of(const Ids& ids) {
  std::string name;
  for (std::uint32_t id : ids) name += "." + std::to_string(id);
  return name;
}

}  // namespace

void wait_until(const std::function<bool()>& ready) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ready() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

SnmpdProcess::SnmpdProcess(std::vector<std::string> extra) : dir_(make_temp_dir()) {
  port_ = free_port();
  std::string conf = "master agentx\nagentXSocket " + agentx() +
                     "\nagentXTimeout 15\nagentXRetries 0\nrocommunity public 127.0.0.1\n"
                     "rwcommunity private 127.0.0.1\n";
  for (const std::string& line : extra) conf += line + "\n";
  write_file(dir_ + "/snmpd.conf", conf);
  start();
}

void SnmpdProcess::start() {
  DaemonOptions options;
  options.program = "/usr/sbin/snmpd";
  options.add_port = options.wait_ready = false;
  options.working_dir = dir_;
  options.args = {"-f", "-Lf",       "snmpd.log",
                  "-C", "-c",        "snmpd.conf",
                  "-p", "snmpd.pid", "udp:127.0.0.1:" + std::to_string(port_)};
  // snmpd keeps its persistent files in our folder, never in the host's /var/lib/snmp.
  options.env = {{"MIBS", ""},
                 {"MIBDIRS", "/dev/null"},
                 {"SNMPCONFPATH", dir_},
                 {"SNMP_PERSISTENT_DIR", dir_ + "/persist"}};
  process_ = std::make_unique<DaemonProcess>(options);
  std::string socket = dir_ + "/agentx.sock";
  wait_until([&] { return ::access(socket.c_str(), F_OK) == 0; });
}

void SnmpdProcess::restart() {
  stop();
  start();
}

void SnmpdProcess::stop() {
  process_->stop();
  ::unlink((dir_ + "/agentx.sock").c_str());
}

ClientResult BridgeTest::client(const std::string& tool, const std::vector<std::string>& args,
                                const std::string& community) {
  std::string command = "MIBS= MIBDIRS=/dev/null SNMPCONFPATH=" + quoted(snmpd_.dir()) +
                        " SNMP_PERSISTENT_DIR=" + quoted(snmpd_.dir() + "/persist") + " " + tool +
                        " -v2c -c " + community +
                        " -r 0 -t 20 -On 127.0.0.1:" + std::to_string(snmpd_.port());
  for (const std::string& a : args) command += " " + quoted(a);
  return run_command(command + " 2>&1");
}

std::unique_ptr<DaemonProcess> start_bridge(const SnmpdProcess& snmpd,
                                            const std::vector<std::string>& agents, Env env) {
  DaemonOptions options;
  options.program = binary_dir() + "/tavro-snmpd-bridge";
  options.add_port = options.wait_ready = false;
  options.args = {"-x", snmpd.agentx()};
  options.args.insert(options.args.end(), agents.begin(), agents.end());
  // Never the host's own debug log; a caller's own comes later and wins.
  env.insert(env.begin(), {"TAVRO_SNMP_DEBUG_LOG", make_temp_dir() + "/qsnmpdbg.log"});
  options.env = std::move(env);
  auto bridge = std::make_unique<DaemonProcess>(options);
  wait_until([&] {
    const std::string out = bridge->output();
    return !bridge->running() || out.find("registered") != std::string::npos ||
           out.find("trying again") != std::string::npos;
  });
  return bridge;
}

void BridgeTest::SetUp() {
  ASSERT_TRUE(::access("/usr/sbin/snmpd", X_OK) == 0 && ::access("/usr/bin/snmpget", X_OK) == 0)
      << "scripts/deps installs snmpd and snmp";
}

void BridgeTest::start(const std::vector<std::string>& agents, const std::string& model, Env env) {
  if (!model.empty()) {
    write_file(snmpd_.dir() + "/model.json", model);
    env.emplace_back("TAVRO_SIM_MODEL", snmpd_.dir() + "/model.json");
  }
  bridge_ = start_bridge(snmpd_, agents, std::move(env));
  ASSERT_TRUE(bridge_->running()) << bridge_->output();
}

void BridgeTest::stop_bridge() {
  if (bridge_ == nullptr || !bridge_->running()) return;
  EXPECT_EQ(bridge_->stop(15), 0) << bridge_->output();
  EXPECT_EQ(bridge_->output().find("Sanitizer"), std::string::npos) << bridge_->output();
}

void BridgeTest::sweep_getnext(const std::vector<std::string>& names, const std::string& root) {
  std::vector<Ids> served;
  for (const std::string& name : names) served.push_back(ids_of(name));
  EXPECT_TRUE(std::is_sorted(served.begin(), served.end(), std::less_equal<Ids>()));
  // Probes: prefixes, the names, each name with one sub-identifier one lower
  // or higher, and names just after each.
  std::set<Ids> probes;
  for (Ids name : served) {
    for (std::size_t n = ids_of(root).size(); n <= name.size(); ++n) {
      probes.emplace(name.begin(), name.begin() + n);
      for (int step : {-1, 1}) {
        Ids beside = name;
        if (n < name.size() && (beside[n] += step) != ~0u) probes.insert(beside);
      }
    }
    name.push_back(0);
    probes.insert(name);
    ++name[name.size() - 2];
    probes.insert(name);
  }
  std::vector<std::string> args;
  for (auto probe = probes.begin(); probe != probes.end(); ++probe) {
    args.push_back(name_of(*probe));
    if (args.size() < 64 && std::next(probe) != probes.end()) continue;
    std::istringstream out(client("snmpgetnext", args).output);
    auto asked = std::prev(probe, static_cast<long>(args.size()) - 1);
    for (std::string line; std::getline(out, line) && asked != std::next(probe);) {
      if (line.empty() || line[0] != '.') continue;
      const Ids& p = *asked++;
      auto next = std::upper_bound(served.begin(), served.end(), p);
      std::string want = next == served.end() ? root + " passed" : name_of(*next);
      std::string got = line.substr(0, line.find(' '));
      EXPECT_EQ(got.rfind(root + ".", 0) == 0 ? got : root + " passed", want) << name_of(p);
    }
    EXPECT_EQ(asked, std::next(probe)) << "one answer per probe";
    args.clear();
  }
}

}  // namespace tavro::testing
