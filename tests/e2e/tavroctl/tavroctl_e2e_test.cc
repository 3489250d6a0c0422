// tavroctl run as a program against the daemon on the simulated adapters:
// every command, its JSON parsed back, each exit status, and the metrics
// file scraped through the real prometheus-node-exporter.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

using Json = nlohmann::json;
const std::string T = ".1.3.6.1.4.1.48217.3.";

// Counters stand still (no rates) and differ everywhere. Adapter 0 has two
// ports, the second disabled; adapter 1's remote node is blocked, and adapter
// 1 also sees adapter 0's first remote port.
const std::string kModel = test_data("e2e/tavroctl/model.json");

struct Ran {
  int status;
  std::string out, err;
};

// Runs tavroctl to its end, or interrupts it after the seconds given.
Ran tavroctl(int port, const std::vector<std::string>& args, const std::string& stop = "") {
  const std::string err = make_temp_dir() + "/err";
  std::string command = "TAVRO_PORT=" + std::to_string(port) +
                        (stop.empty() ? "" : " timeout -s INT " + stop) + " " + binary_dir() +
                        "/tavroctl";
  for (const std::string& a : args) command += " '" + a + "'";
  ClientResult r = run_command(command + " 2>" + err);
  return {r.status, r.output, read_file(err)};
}

// The request log, requests.log in the daemon's folder, notes REV, LOGSIZE
// and LOGREAD.
DaemonOptions daemon_on_model(const std::string& model, std::vector<std::string> args) {
  const std::string dir = make_temp_dir();
  write_file(dir + "/model.json", model);
  args.insert(args.end(), {"-log", "requests.log", "-lo", "2", "-lf", "0x100020"});
  return {.args = args, .env = {{"TAVRO_SIM_MODEL", dir + "/model.json"}}};
}

DaemonOptions full_daemon(const std::string& model = kModel) {
  return daemon_on_model(model, {"-fcget", "enabled", "-fcset", "enabled", "-api", "enabled"});
}

std::string ask(int port, const std::string& text) {
  std::string reply = request(port, text + "\n");
  return reply == std::string(1, '\0') ? "" : reply;
}

// A peer that is not (or no longer) a sound tavro: answer(request) gives the
// reply, or one of the markers kClose, kReset, kSilent; each reply waits late.
const std::string kClose = "<close>", kReset = "<reset>", kSilent = "<silent>";
struct FakePeer {
  FakePeer(std::function<std::string(const std::string&)> answer,
           std::chrono::milliseconds late = 0ms)
      : port(free_port()), fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 64);
    worker = std::thread([this, answer, late] {
      for (int c; (c = ::accept(fd, nullptr, nullptr)) >= 0; ::close(c)) {
        std::string request = read_all(c, 2s);
        const std::string reply = answer(request.substr(0, request.find('\n')));
        std::this_thread::sleep_for(reply == kSilent ? 2s : late);
        if (reply == kReset) close_with_reset(::dup(c));
        if (reply != kClose && reply != kReset && reply != kSilent) send_text(c, reply);
      }
    });
  }
  ~FakePeer() {
    ::shutdown(fd, SHUT_RDWR);
    worker.join();
    ::close(fd);
  }
  int port, fd;
  std::thread worker;
};

TEST(TavroctlE2e, EveryCommandShowsWhatTheDaemonAnswersAsTextAndJson) {
  DaemonProcess daemon(full_daemon());
  // A whole line of the output, then the arguments.
  for (const auto& row : read_rows("e2e/tavroctl/commands.txt", {{"T", T}})) {
    const std::vector<std::string> args(row.begin() + 1, row.end());
    Ran r = tavroctl(daemon.port(), args);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    EXPECT_NE(("\n" + r.out).find(row[0]), std::string::npos)
        << args[0] << ": no line \"" << row[0] << "\" in\n"
        << r.out;
  }
  // The JSON parsed back equals the daemon's answers.
  const int port = daemon.port();
  auto json = [&](std::vector<std::string> args) {
    args.push_back("--json");
    Ran r = tavroctl(port, args);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return Json::parse(r.out, nullptr, false);
  };
  Json ports = json({"ports"});
  ASSERT_EQ(ports.size(), 3u) << ports;
  for (const Json& p : ports) {
    const std::string w = p["wwn"];
    EXPECT_EQ(std::to_string(p["state_code"].get<int>()), ask(port, "FCGET " + T + "3.5.1.5." + w));
    EXPECT_EQ(std::to_string(p["speed_gbit"].get<int>()), ask(port, "FCGET " + T + "3.5.1.3." + w));
    EXPECT_EQ(p["fc_address"], ask(port, "FCGET " + T + "3.7.1.7." + w));
  }
  Json stats = json({"stats"});
  ASSERT_EQ(stats.size(), 3u);
  EXPECT_EQ(stats[2]["counters"]["receive_errors"], 306);
  EXPECT_EQ(stats[1]["counters"]["sent_sequences"], 201);
  EXPECT_EQ(stats[0]["counters"]["link_transitions"], 3);
  Json targets = json({"targets"});
  ASSERT_EQ(targets.size(), 4u);
  EXPECT_EQ(targets[0]["luns"], Json::parse("[0,5]"));
  EXPECT_EQ(targets[2]["blocked"], true);
  EXPECT_EQ(json({"adapters"})[1]["node_wwn"], "2000000000000C00");
  EXPECT_EQ(json({"status"})["adapters"], 2);
  EXPECT_EQ(json({"config"})["HbaApiReq"], "enabled");
  EXPECT_EQ(json({"get", "3.1.0"})["value"], "2");
  EXPECT_TRUE(json({"log"})["lines"].is_array());
  // A log longer than one LOGREAD reply comes out as the file holds it.
  for (int i = 0; i < 150; ++i) request(port, "REV\n");
  Ran log = tavroctl(port, {"log"});
  EXPECT_EQ(log.status, 0) << log.err;
  EXPECT_GT(log.out.size(), 4096u);
  EXPECT_EQ(read_file(daemon.dir() + "/requests.log").substr(0, log.out.size()), log.out);
}

// Following, it shows what others add and hides its own polling.
TEST(TavroctlE2e, LogFollowShowsNewLinesButNotItsOwnPolling) {
  DaemonProcess daemon(full_daemon());
  std::thread later([&] {
    std::this_thread::sleep_for(1500ms);
    request(daemon.port(), "REV\n");
  });
  Ran r = tavroctl(daemon.port(), {"log", "--follow"}, "3.5");
  later.join();
  EXPECT_NE(r.out.find(" - REV\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(" - LOGSIZE\n"), r.out.rfind(" - LOGSIZE\n")) << r.out;  // the first only
}

// A count request, answered; everything else is an error reply.
std::function<std::string(const std::string&)> count_is(const std::string& count) {
  return [count](const std::string& r) {
    return r.ends_with(".3.1.0") ? count : r == "REV" ? "3.3 Build 43" : "Error: No such member";
  };
}

TEST(TavroctlE2e, EachFailureHasItsExitStatusAndOneLine) {
  DaemonProcess closed(daemon_on_model(kModel, {}));  // FCGET and HBAAPI disabled
  DaemonProcess open(full_daemon());
  FakePeer garbage([](const std::string&) { return "hello\x1B[2J\x7F"; }),
      huge(count_is("4294967295")), negative(count_is("-1")),
      driver_error(count_is("Error: Driver not opened")),
      big([](const std::string&) { return std::string(1100000, '7'); }),
      closing([](const std::string&) { return kClose; }),
      resetting([](const std::string&) { return kReset; }),
      silent([](const std::string&) { return kSilent; }), long_name([](const std::string&r) {
        return r.ends_with(".3.2.1.2.0") ? std::string(4061, 'A') : count_is("1")(r);
      }),
      slow_log(
          [](const std::string&r) {
            return r == "LOGSIZE" ? "100000" : std::string(std::stoi(r.substr(r.rfind(' '))), 'x');
          },
          300ms);
  const std::map<std::string, int> ports = {{"open", open.port()},
                                            {"closed", closed.port()},
                                            {"none", free_port()},
                                            {"garbage", garbage.port},
                                            {"huge", huge.port},
                                            {"negative", negative.port},
                                            {"driver_error", driver_error.port},
                                            {"big", big.port},
                                            {"closing", closing.port},
                                            {"resetting", resetting.port},
                                            {"silent", silent.port},
                                            {"long_name", long_name.port},
                                            {"slow_log", slow_log.port}};
  // name, peer, exit status, a part of the one line on standard error, the arguments
  for (const auto& row :
       read_rows("e2e/tavroctl/failures.txt", {{"NL", "\n"}, {"LONG", std::string(4044, '1')}})) {
    const std::string& name = row[0];
    const std::vector<std::string> args(row.begin() + 4, row.end());
    const int status = std::stoi(row[2]);
    Ran r = tavroctl(ports.at(row[1]), args);
    EXPECT_EQ(r.status, status) << name << ": " << r.err;
    EXPECT_NE(r.err.find(row[3]), std::string::npos) << name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), status == 0 ? 0 : 1) << name;
    EXPECT_TRUE(status == 0 || args.back() != "--json" || r.out.empty()) << name;
  }
}

// node_exporter prints values in its own float form; compare numbers.
double sample(const std::string& scraped, const std::string& series) {
  auto at = scraped.find("\n" + series + " ");
  return at == std::string::npos ? -1
                                 : std::strtod(scraped.c_str() + at + series.size() + 2, nullptr);
}

constexpr const char* kExporter = "/usr/bin/prometheus-node-exporter";

// Writes the metrics of the daemon into a folder and has node_exporter's
// textfile collector serve them: what a scrape returns.
std::string scrape_metrics_of(int daemon_port) {
  const std::string dir = make_temp_dir();
  Ran r = tavroctl(daemon_port, {"metrics", "--output", dir + "/tavro.prom"});
  EXPECT_EQ(r.status, 0) << r.err;
  struct stat file {};
  EXPECT_EQ(::stat((dir + "/tavro.prom").c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0644u) << "node_exporter runs as a user of its own";
  DaemonOptions options{.args = {"--collector.disable-defaults", "--collector.textfile",
                                 "--collector.textfile.directory=" + dir},
                        .add_port = false,
                        .port = free_port(),
                        .program = kExporter};
  options.args.push_back("--web.listen-address=127.0.0.1:" + std::to_string(options.port));
  DaemonProcess exporter(options);
  std::string scraped = request(exporter.port(), "GET /metrics HTTP/1.0\r\n\r\n");
  EXPECT_NE(scraped.find("\nnode_textfile_scrape_error 0\n"), std::string::npos) << scraped;
  EXPECT_EQ(occurrences(scraped, "\ntavro_"),
            occurrences("\n" + read_file(dir + "/tavro.prom"), "\ntavro_"));
  return scraped;
}

TEST(TavroctlE2e, NodeExporterServesEverySeriesAsTheDaemonAnswersIt) {
  if (::access(kExporter, X_OK) != 0) GTEST_SKIP() << kExporter << " is not installed";
  DaemonProcess daemon(full_daemon());
  const int port = daemon.port();
  const std::string scraped = scrape_metrics_of(port);
  ASSERT_NE(scraped.find("\ntavro_up 1\n"), std::string::npos) << scraped;
  // metric, request; %W is the port WWN, %H the HBA API handle and port index.
  // The driver's counters are checked against the kernel's on a sysfs fixture.
  const std::pair<std::string, std::string> kSeries[] = {
      {"tavro_port_state", "FCGET " + T + "3.5.1.5.%W"},
      {"tavro_port_transmitted_frames_total", "HBAAPI 9.2.%H"},
      {"tavro_port_received_words_total", "HBAAPI 9.5.%H"},
      {"tavro_port_error_frames_total", "HBAAPI 9.8.%H"},
      {"tavro_port_invalid_crc_total", "HBAAPI 9.15.%H"},
  };
  const std::map<std::string, std::string> kPorts = {{"2100000000000A01", "/pvd/pci1/dev1/fcp0|0"},
                                                     {"2100000000000A02", "/pvd/pci1/dev1/fcp0|1"},
                                                     {"2100000000000C01", "/pvd/pci2/dev1/fcp1|0"}};
  for (const auto& [wwn, where] : kPorts) {
    const std::string adapter = where.substr(0, where.find('|'));
    const std::string handle = ask(port, "HBAAPI 5.0." + adapter);
    for (auto [metric, req] : kSeries) {
      req.replace(req.find('%'), 2,
                  req.find("%W") != std::string::npos
                      ? wwn
                      : handle + "." + where.substr(where.find('|') + 1));
      const std::string series = metric + "{adapter=\"" + adapter + "\",port=\"" + wwn + "\"}";
      EXPECT_EQ(sample(scraped, series), std::strtod(ask(port, req).c_str(), nullptr)) << series;
    }
  }
  const Vars vars = {{"T", T}, {"H0", ask(port, "HBAAPI 5.0./pvd/pci1/dev1/fcp0")}};
  for (const auto& row : read_rows("e2e/tavroctl/remote_series.txt", vars))
    EXPECT_EQ(sample(scraped, row[0]), std::stoi(ask(port, row[1]), nullptr, std::stoi(row[2])))
        << row[0];
}

// On a sysfs fixture through the Linux driver library the series are the
// kernel's numbers: frames for sequences, words times four for bytes, all
// modulo 2^32 as the driver's counters are. tavroctl, on the daemon's host,
// adds the fabric notifications the kernel counted (TAVRO_SYSFS_ROOT is
// passed on to it).
TEST(TavroctlE2e, OnASysfsFixtureTheSeriesAreTheKernelsNumbers) {
  if (::access(kExporter, X_OK) != 0) GTEST_SKIP() << kExporter << " is not installed";
  const std::string root = make_temp_dir() + "/sys";
  std::filesystem::copy(
      std::string(TAVRO_FIXTURES) + "/dual_port", root,
      std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
  const auto fpin = read_rows("e2e/tavroctl/fpin_series.txt");
  for (const auto& row : fpin) {
    std::filesystem::create_directories(std::filesystem::path(root + "/" + row[0]).parent_path());
    write_file(root + "/" + row[0], row[1] + "\n");
  }
  setenv("TAVRO_SYSFS_ROOT", root.c_str(), 1);
  DaemonProcess daemon(DaemonOptions{.args = {"-fcget", "enabled"},
                                     .env = {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}}});
  const std::string scraped = scrape_metrics_of(daemon.port());
  for (const auto& row : fpin)
    EXPECT_EQ(sample(scraped, row[2]), row[3] == "-" ? -1 : std::strtod(row[3].c_str(), nullptr))
        << row[2];
  Json stats = Json::parse(tavroctl(daemon.port(), {"stats", "--json"}).out);
  EXPECT_EQ(stats[0]["counters"]["fpin_congestion"], 7);
  EXPECT_TRUE(stats[1]["counters"]["fpin_delivery"].is_null()) << stats[1];
  Json targets = Json::parse(tavroctl(daemon.port(), {"targets", "--stats", "--json"}).out);
  EXPECT_EQ(targets[0]["fpin"]["delivery"], 15);
  EXPECT_TRUE(targets[1]["fpin"]["link_integrity"].is_null()) << targets[1];
  for (const std::string host : {"host3", "host4"}) {
    const std::string dir = root + "/class/fc_host/" + host + "/";
    std::string wwn = read_file(dir + "port_name").substr(2, 16);
    for (char& c : wwn) c = static_cast<char>(std::toupper(c));
    const std::string labels = "{adapter=\"pci0000:3b/dev00\",port=\"" + wwn + "\"}";
    for (const auto& row : read_rows("e2e/tavroctl/kernel_counters.txt")) {
      const auto kernel = std::stoull(read_file(dir + "statistics/" + row[1]), nullptr, 16);
      EXPECT_EQ(sample(scraped, row[0] + labels), (kernel * std::stoull(row[2])) % (1ull << 32))
          << row[0] << labels;
    }
    const bool online = read_file(dir + "port_state") == "Online\n";
    EXPECT_EQ(sample(scraped, "tavro_port_link_up" + labels), online ? 1 : 0) << host;
    EXPECT_EQ(sample(scraped, "tavro_port_speed_bytes_per_second" + labels), online ? 2e9 : -1);
  }
  Ran ports = tavroctl(daemon.port(), {"ports"});
  EXPECT_NE(ports.out.find("\n0:1   21000024FF3A5B11  offline  -"), std::string::npos) << ports.out;
  // The same remote port through both ports of the adapter, and no HBA API
  // to say which path a row is: its counts are unknown, not either path's.
  const std::string second = root + "/class/fc_remote_ports/rport-4:0-0";
  std::filesystem::create_directories(second + "/statistics");
  write_file(second + "/port_name", "0x210000d0b2c3d4e5\n");
  write_file(second + "/statistics/fpin_dn", "0x1\n");
  targets = Json::parse(tavroctl(daemon.port(), {"targets", "--stats", "--json"}).out);
  int rows = 0;
  for (const Json& t : targets)
    if (t["remote_port"] == "210000D0B2C3D4E5") {
      ++rows;
      EXPECT_TRUE(t["fpin"]["delivery"].is_null()) << t;
    }
  EXPECT_GT(rows, 0) << targets;
  unsetenv("TAVRO_SYSFS_ROOT");
}

// A counter the adapter does not keep and a speed not negotiated (0) are
// unknown: left out, never shown as 0; the rest passes promtool's checks.
TEST(TavroctlE2e, UnknownValuesAreLeftOutAndTheMetricsPassPromtool) {
  std::string model = kModel;
  model.insert(model.rfind('}'), R"(,"hbaapi":{"missing":["HBA_GetPortStatistics"]})");
  model.replace(model.find(R"("speed":2)"), 9, R"("speed":0)");
  DaemonProcess daemon(full_daemon(model));
  const std::string file = make_temp_dir() + "/tavro.prom";
  Ran r = tavroctl(daemon.port(), {"metrics", "--output", file});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = read_file(file);
  EXPECT_NE(text.find("tavro_port_sent_bytes_total{"), std::string::npos) << text;
  EXPECT_EQ(text.find("tavro_port_transmitted_frames_total"), std::string::npos) << text;
  EXPECT_EQ(text.find("speed_bytes_per_second{adapter=\"/pvd/pci2/dev1/fcp1\""), std::string::npos);
  ClientResult check = run_command("promtool check metrics < " + file + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.output;
  Ran stats = tavroctl(daemon.port(), {"stats", "0:0", "--json"});
  EXPECT_TRUE(Json::parse(stats.out)[0]["counters"]["tx_frames"].is_null()) << stats.out;
  Ran ports = tavroctl(daemon.port(), {"ports"});
  EXPECT_NE(ports.out.find("\n1:0   2100000000000C01  online   -  "), std::string::npos)
      << ports.out;
}

}  // namespace
}  // namespace tavro::testing
