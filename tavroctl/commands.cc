#include "tavroctl/commands.h"

#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "sysfs/model.h"
#include "tavroctl/fabric.h"
#include "tavroctl/inventory.h"
#include "tavroctl/output.h"

namespace tavroctl {
namespace {

using Json = nlohmann::ordered_json;

int status_of(Outcome o) {
  return exit_status(o);
}

// The setting that enables a command, by the request's first word.
std::string setting_for(const std::string& request) {
  if (request.rfind("FCSET", 0) == 0) return "FcSetReq";
  if (request.rfind("FCGET", 0) == 0) return "FcGetReq";
  return "HbaApiReq";
}

// One line: what happened to which request, and what to do about it.
int report(const Reply& r, const Options& o, std::ostream& err) {
  const std::string text = printable(r.text, true), request = printable(r.request, true);
  switch (r.outcome) {
    case Outcome::kOk:
      break;
    case Outcome::kCannotConnect:
      err << "tavroctl: cannot connect to " << o.host << ":" << o.port << " (" << text
          << "); is tavro running there? Set --host/--port or TAVRO_HOST/TAVRO_PORT.\n";
      break;
    case Outcome::kDisabled:
      err << "tavroctl: " << request << ": " << text << "; set " << setting_for(r.request)
          << " enabled in tavro's configuration (/etc/tavro/tavro.conf) and restart it.\n";
      break;
    case Outcome::kNoReply:
      err << "tavroctl: " << request << ": " << text
          << (text.find("within") != std::string::npos
                  ? "; the daemon or its driver is slow or busy: try a longer --timeout.\n"
                  : "; tavro closes a request it does not know so: is the peer tavro, and a "
                    "version with this command?\n");
      break;
    default:
      err << "tavroctl: " << (request.empty() ? "" : request + ": ") << text << "\n";
  }
  return status_of(r.outcome);
}

int usage_error(const std::string& text, std::ostream& err) {
  err << "tavroctl: " << text << " (tavroctl --help shows the commands)\n";
  return status_of(Outcome::kUsage);
}

Json number_or_null(const std::optional<std::string>& text) {
  if (!text) return nullptr;
  if (auto u = parse_unsigned(*text)) return *u;
  if (auto s = parse_signed(*text)) return *s;
  return nullptr;
}

Json text_or_null(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

// The daemon answers port state 1 online, 3 offline (disabled, or on Linux
// hosts any state but online), and link state 1 up, 2 down.
std::optional<bool> link_up(const Port& p) {
  if (p.link && (*p.link == "1" || *p.link == "2")) return *p.link == "1";
  return std::nullopt;
}

std::string port_state(const Port& p) {
  if (p.state && *p.state == "3") return "offline";
  if (auto up = link_up(p)) return *up ? "online" : "link down";
  return port_state_name(p.hba_field(hba::kState));
}

// Gbit/s; 0 is not negotiated, and what no link runs at is no speed.
std::optional<std::uint64_t> speed_gbit(const Port& p) {
  auto gbit = p.speed ? parse_unsigned(*p.speed) : std::nullopt;
  return gbit && *gbit > 0 && *gbit <= 1024 ? gbit : std::nullopt;
}

std::string speed_text(const Port& p) {
  return speed_gbit(p) ? std::to_string(*speed_gbit(p)) + " Gbit/s" : "";
}

std::string blocked_text(const std::string& code) {
  if (code == "1") return "yes";
  if (code == "0" || code == "2") return "no";
  return "";
}

std::string role_of(const RemoteNode& r) {
  return role_names(r.type);
}

// The fabric's WWN; none (zero) on a loop or without a link.
std::string fabric_of(const Port& p) {
  const std::string wwn = normalize_wwn(p.hba_field(hba::kFabric)).value_or("");
  return wwn == std::string(16, '0') ? "" : wwn;
}

std::string join(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

// The statistics of a port by kCounters row; an HBA API counter the adapter
// does not keep reads -1 and stays unknown like an error reply.
std::vector<std::optional<std::string>> counter_values(const Port& p) {
  std::vector<std::optional<std::string>> values;
  std::size_t driver = 0;
  for (const CounterRow* c = kCounters; c->key != nullptr; ++c) {
    if (c->suffix != nullptr) {
      values.push_back(driver < p.counters.size() ? p.counters[driver] : std::nullopt);
      ++driver;
      continue;
    }
    const std::size_t f = static_cast<std::size_t>(c->hba_field) - 1;
    auto v = f < p.hba_stats.size() ? parse_signed(p.hba_stats[f]) : std::nullopt;
    values.push_back(v && *v >= 0 ? std::optional(p.hba_stats[f]) : std::nullopt);
  }
  for (auto& v : values)
    if (v && !parse_unsigned(*v)) v.reset();
  return values;
}

// The fabric notifications by kFpinKinds row.
std::vector<std::optional<std::string>> fpin_values(const sysfs::FpinCounts& counts) {
  std::vector<std::optional<std::string>> values;
  for (const FpinKind& k : kFpinKinds)
    values.push_back((counts.*k.count) ? std::optional(std::to_string(*(counts.*k.count)))
                                       : std::nullopt);
  return values;
}

// The kernel's counts join what the daemon answered when both are of this host.
void add_fpin(std::vector<Adapter>& adapters, const Client& client) {
  if (is_loopback(client.host())) attach_fpin(adapters, sysfs::default_root());
}

// The whole lines of text but the notes of tavroctl's own requests, which the
// daemon logs when LogFlags asks it to; a last partial line stays in text.
std::string without_own(std::string& text, std::vector<std::string>& own) {
  std::string kept;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    const bool mine = std::any_of(own.begin(), own.end(), [&](const std::string& r) {
      return line.size() > r.size() + 3 &&
             line.compare(line.size() - r.size() - 3, std::string::npos, " - " + r) == 0;
    });
    if (!mine) kept += line + "\n";
  }
  text.erase(0, start);
  if (own.size() > 16) own.erase(own.begin(), own.end() - 16);
  return kept;
}

class Command {
 public:
  Command(const Options& o, std::ostream& out, std::ostream& err)
      : o_(o),
        out_(out),
        err_(err),
        client_(o.host, o.port, o.timeout, o.transport),
        session_(client_) {}

  int status();
  int adapters();
  int ports();
  int targets();
  int stats();
  int log();
  int read_log(std::uint64_t& offset, std::string& text, std::vector<std::string>& own);
  int config();
  int get(bool write);
  int metrics();

 private:
  int failed_gather() { return session_.failed() ? report(session_.failure(), o_, err_) : 0; }
  // The whole document at once, only when the command has succeeded; what is
  // not ASCII escaped (controls from the peer), bytes that are not UTF-8 replaced.
  void print(const Json& j) {
    out_ << j.dump(2, ' ', true, Json::error_handler_t::replace) << '\n';
  }
  // A reply in the shape asked for, or the failure reported (kOk then).
  Reply checked(Reply r, const Shape& shape) {
    return r.ok() && !fits(shape, r.text) ? bad_reply(r.request, describe(shape), r.text) : r;
  }
  std::string oid_of(const std::string& text);

  const Options& o_;
  std::ostream& out_;
  std::ostream& err_;
  Client client_;
  Session session_;
};

int Command::status() {
  Reply rev = client_.ask("REV");
  if (!rev.ok()) return report(rev, o_, err_);
  auto adapters = gather(session_, {.details = false, .hba = false});
  std::size_t ports = 0;
  for (const Adapter& a : adapters) ports += a.ports.size();
  Reply version = client_.hbaapi("0.0");
  if (version.outcome != Outcome::kErrorReply && version.outcome != Outcome::kDisabled)
    version = checked(version, {Shape::kNumber, ~0ull});
  Reply counters = client_.ask("STATS");
  Json requests = Json::object();
  for (const auto& [key, value] : key_values(counters.text)) {
    if (counters.ok() && !fits({Shape::kNumber, ~0ull}, value))
      counters = bad_reply("STATS", "name;number pairs", counters.text);
    if (!key.empty())
      requests[key.back() == ' ' ? key.substr(0, key.size() - 1) : key] = number_or_null(value);
  }
  const Reply& count = session_.failure();
  for (const Reply* r : std::initializer_list<const Reply*>{&count, &version, &counters})
    if (r->outcome != Outcome::kOk && r->outcome != Outcome::kErrorReply &&
        r->outcome != Outcome::kDisabled)
      return report(*r, o_, err_);
  if (o_.json && session_.failed()) return failed_gather();
  if (o_.json) {
    print(
        {{"revision", rev.text},
         {"daemon", client_.where()},
         {"driver", {{"reachable", count.ok()}, {"error", count.ok() ? Json() : Json(count.text)}}},
         {"adapters", count.ok() ? Json(adapters.size()) : Json()},
         {"ports", count.ok() ? Json(ports) : Json()},
         {"hbaapi", {{"available", version.ok()}, {"version", number_or_null(version.text)}}},
         {"requests", requests}});
  } else {
    Table t({"revision", rev.text});
    t.add({"daemon", client_.where()});
    t.add({"driver", count.ok() ? "reachable" : "not reachable: " + count.text});
    t.add({"adapters", count.ok() ? std::to_string(adapters.size()) : ""});
    t.add({"ports", count.ok() ? std::to_string(ports) : ""});
    t.add({"hba api", version.ok() ? "version " + version.text : "not available: " + version.text});
    std::string line;
    for (const auto& [key, value] : requests.items())
      line += (line.empty() ? "" : ", ") + key + " " + value.dump();
    t.add({"requests", line});
    t.print(out_);
  }
  return failed_gather();
}

int Command::adapters() {
  auto list = gather(session_, {.details = true, .hba = true});
  if (int rc = failed_gather()) return rc;
  Json j = Json::array();
  Table t({"ID", "NAME", "MODEL", "PORTS", "NODE WWN", "SERIAL", "FIRMWARE", "DRIVER"});
  for (const Adapter& a : list) {
    t.add({std::to_string(a.index), a.name, a.model.value_or(""), std::to_string(a.ports.size()),
           a.node_wwn, a.hba_field(hba::kSerial), a.hba_field(hba::kFirmware),
           a.hba_field(hba::kDriverVersion)});
    j.push_back({{"index", a.index},
                 {"name", a.name},
                 {"model", text_or_null(a.model.value_or(""))},
                 {"bus_slot", text_or_null(a.bus_slot.value_or(""))},
                 {"node_wwn", text_or_null(a.node_wwn)},
                 {"ports", a.ports.size()},
                 {"serial", text_or_null(a.hba_field(hba::kSerial))},
                 {"firmware", text_or_null(a.hba_field(hba::kFirmware))},
                 {"driver_version", text_or_null(a.hba_field(hba::kDriverVersion))}});
  }
  o_.json ? print(j) : t.print(out_);
  return 0;
}

int Command::ports() {
  auto list = gather(session_, {.details = true, .hba = true});
  if (int rc = failed_gather()) return rc;
  Json j = Json::array();
  Table t({"PORT", "WWN", "STATE", "SPEED", "TYPE", "FABRIC", "FC ADDRESS", "ADAPTER"});
  for (const Adapter& a : list) {
    for (const Port& p : a.ports) {
      const std::string type = port_type_name(p.hba_field(hba::kType));
      const std::string fabric = fabric_of(p);
      t.add({p.id(), p.wwn, port_state(p), speed_text(p), type, fabric, p.fc_address.value_or(""),
             a.name});
      j.push_back({{"port", p.id()},
                   {"wwn", p.wwn},
                   {"adapter", a.name},
                   {"state", text_or_null(port_state(p))},
                   {"state_code", number_or_null(p.state)},
                   {"link_up", link_up(p) ? Json(*link_up(p)) : Json()},
                   {"speed_gbit", speed_gbit(p) ? Json(*speed_gbit(p)) : Json()},
                   {"type", text_or_null(type)},
                   {"fabric", text_or_null(fabric)},
                   {"fc_address", text_or_null(p.fc_address.value_or(""))}});
    }
  }
  o_.json ? print(j) : t.print(out_);
  return 0;
}

int Command::targets() {
  auto list = gather(session_, {.details = false, .hba = true, .remotes = true});
  if (int rc = failed_gather()) return rc;
  if (o_.stats) add_fpin(list, client_);
  Json j = Json::array();
  std::vector<std::string> header{"ADAPTER", "REMOTE NODE", "REMOTE PORT", "FC ADDRESS", "STATE",
                                  "ROLE",    "TARGET",      "BLOCKED",     "LUNS"};
  for (const FpinKind& k : kFpinKinds)
    if (o_.stats) header.push_back(k.column);
  Table t(header);
  for (const Adapter& a : list) {
    for (const RemoteNode& r : a.remotes) {
      for (const RemotePort& rp : r.ports) {
        const std::string state = port_state_name(rp.state);
        std::vector<std::string> row{std::to_string(a.index),
                                     r.wwn,
                                     rp.wwn,
                                     rp.fc_address,
                                     state,
                                     role_of(r),
                                     r.target_id,
                                     blocked_text(r.blocked),
                                     join(r.luns, ",")};
        Json luns = Json::array();
        for (const auto& l : r.luns) luns.push_back(number_or_null(l));
        j.push_back(
            {{"adapter", a.name},
             {"remote_node", r.wwn},
             {"remote_port", rp.wwn},
             {"fc_address", text_or_null(rp.fc_address)},
             {"state", text_or_null(state)},
             {"seen_by", text_or_null(rp.via)},
             {"role", text_or_null(role_of(r))},
             {"target_id", number_or_null(r.target_id)},
             {"blocked", r.blocked.empty() ? Json() : Json(blocked_text(r.blocked) == "yes")},
             {"luns", luns}});
        if (o_.stats) {
          const auto values = fpin_values(remote_fpin(a, rp));
          for (std::size_t i = 0; i < values.size(); ++i) {
            row.push_back(values[i].value_or(""));
            j.back()["fpin"][kFpinKinds[i].key] = number_or_null(values[i]);
          }
        }
        t.add(row);
      }
    }
  }
  o_.json ? print(j) : t.print(out_);
  return 0;
}

int Command::stats() {
  std::optional<std::string> only;
  if (o_.words.size() > 2) return usage_error("stats takes one port at most", err_);
  if (o_.words.size() == 2 && !(only = resolve_port(session_, o_.words[1]))) {
    if (session_.failed()) return report(session_.failure(), o_, err_);
    err_ << "tavroctl: no port " << o_.words[1] << " (tavroctl ports lists them)\n";
    return status_of(Outcome::kErrorReply);
  }
  auto list = gather(session_, {.details = false, .hba = true, .stats = true});
  if (int rc = failed_gather()) return rc;
  add_fpin(list, client_);
  std::vector<std::string> keys;
  for (const CounterRow* c = kCounters; c->key != nullptr; ++c) keys.push_back(c->key);
  for (const FpinKind& k : kFpinKinds) keys.push_back("fpin_" + std::string(k.key));
  std::vector<const Port*> chosen;
  for (const Adapter& a : list)
    for (const Port& p : a.ports)
      if (!only || p.wwn == *only) chosen.push_back(&p);
  if (only && chosen.empty()) {
    err_ << "tavroctl: no port " << o_.words[1] << " (tavroctl ports lists them)\n";
    return status_of(Outcome::kErrorReply);
  }
  Json j = Json::array();
  std::vector<std::string> header{"COUNTER"};
  std::vector<std::vector<std::optional<std::string>>> columns;
  for (const Port* p : chosen) {
    header.push_back(p->id() + " " + p->wwn);
    columns.push_back(counter_values(*p));
    for (auto& v : fpin_values(p->fpin)) columns.back().push_back(v);
    Json counters = Json::object();
    for (std::size_t i = 0; i < keys.size(); ++i)
      counters[keys[i]] = number_or_null(columns.back()[i]);
    j.push_back({{"port", p->id()}, {"wwn", p->wwn}, {"counters", counters}});
  }
  Table t(header);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::vector<std::string> row{keys[i]};
    for (const auto& c : columns) row.push_back(c[i].value_or(""));
    t.add(row);
  }
  o_.json ? print(j) : t.print(out_);
  return 0;
}

// Reads the log from offset to the size LOGSIZE tells, appending to text and
// noting each request sent in own; 0 or the exit status.
int Command::read_log(std::uint64_t& offset, std::string& text, std::vector<std::string>& own) {
  // LOGREAD answers a message buffer at most; read the log in chunks that fit.
  constexpr std::uint64_t kChunk = 4000;
  Reply size = checked(client_.ask("LOGSIZE"), {Shape::kNumber, ~0ull});
  if (!size.ok()) return report(size, o_, err_);
  auto end = parse_unsigned(size.text);
  own.push_back("LOGSIZE");
  if (*end < offset) offset = 0;  // started anew
  while (offset < *end) {
    const std::uint64_t want = std::min(kChunk, *end - offset);
    own.push_back("LOGREAD " + std::to_string(offset) + " " + std::to_string(want));
    Reply chunk = client_.ask(own.back());
    // Log text may itself begin with "Error:"; a whole chunk is data.
    const bool whole = chunk.text.size() == want && (chunk.outcome == Outcome::kErrorReply ||
                                                     chunk.outcome == Outcome::kDisabled);
    if (!chunk.ok() && !whole) return report(chunk, o_, err_);
    if (chunk.text.size() > want)
      return report(bad_reply(own.back(), "at most " + std::to_string(want) + " bytes",
                              std::to_string(chunk.text.size()) + " bytes"),
                    o_, err_);
    if (chunk.text.empty()) break;  // shorter than it said: read again later
    offset += chunk.text.size();
    text += chunk.text;
  }
  return 0;
}

int Command::log() {
  std::uint64_t offset = 0;
  std::string text;
  std::vector<std::string> own;
  for (bool first = true;; first = false) {
    client_.restart();
    if (int rc = read_log(offset, text, own)) return rc;
    if (!o_.follow) break;
    if (first) {
      own.clear();  // a follower hides its own polling from here on
      out_ << printable(text) << std::flush;
      text.clear();
    } else {
      out_ << printable(without_own(text, own)) << std::flush;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (!o_.json) {
    out_ << printable(text);
    return 0;
  }
  Json lines = Json::array();
  for (auto& line : split(text, '\n'))
    if (!line.empty()) lines.push_back(line);
  print({{"size", offset}, {"lines", lines}});
  return 0;
}

int Command::config() {
  Reply r = client_.ask("CONFIG");
  if (!r.ok()) return report(r, o_, err_);
  Json j = Json::object();
  Table t({"SETTING", "VALUE"});
  for (const auto& [key, value] : key_values(r.text)) {
    j[key] = value;
    t.add({key, value});
  }
  o_.json ? print(j) : t.print(out_);
  return 0;
}

// Full OIDs pass as they are; anything else is below the agent tree.
std::string Command::oid_of(const std::string& text) {
  if (text.rfind('.', 0) == 0) return text;
  if (text.rfind(std::string(kEnterprise.substr(1)), 0) == 0) return "." + text;
  return std::string(kAgentTree) + text;
}

int Command::get(bool write) {
  const std::size_t values = write ? 1 : 0;
  if (o_.words.size() < 2 + values) return usage_error(o_.words[0] + ": an OID is needed", err_);
  std::string oid = oid_of(o_.words[1]);
  for (std::size_t i = 2; i + values < o_.words.size(); ++i) {
    const std::string& part = o_.words[i];
    const bool port = std::count(part.begin(), part.end(), ':') == 1 || normalize_wwn(part);
    auto wwn = port ? resolve_port(session_, part) : std::optional(part);
    if (session_.failed()) return report(session_.failure(), o_, err_);
    if (!wwn) {
      err_ << "tavroctl: no port " << part << " (tavroctl ports lists them)\n";
      return status_of(Outcome::kErrorReply);
    }
    oid += "." + *wwn;
  }
  const std::string request = write ? "FCSET " + oid + " " + o_.words.back() : "FCGET " + oid;
  Reply r = client_.ask(request);
  if (!r.ok()) return report(r, o_, err_);
  o_.json ? print({{"oid", oid}, {"value", r.text}}) : void(out_ << printable(r.text) << '\n');
  return 0;
}

int Command::metrics() {
  Reply failure;
  const std::string text = metrics_text(client_, failure);
  if (!o_.output.empty()) {
    if (std::string why = replace_file(o_.output, text); !why.empty()) {
      err_ << "tavroctl: cannot write " << o_.output << ": " << why << "\n";
      return status_of(Outcome::kErrorReply);
    }
  } else {
    out_ << text;
  }
  return failure.ok() ? 0 : report(failure, o_, err_);
}

void port_metrics(Metrics& m, const Adapter& a, const Port& p) {
  const Labels id{{"adapter", a.name}, {"port", p.wwn}};
  m.add("tavro_port_info", "The port's fabric, type and speed.",
        {{"adapter", a.name},
         {"port", p.wwn},
         {"id", p.id()},
         {"fabric", fabric_of(p)},
         {"type", port_type_name(p.hba_field(hba::kType))},
         {"speed", speed_text(p)},
         {"fc_address", p.fc_address.value_or("")}},
        "1");
  if (p.state && parse_unsigned(*p.state))
    m.add("tavro_port_state", "The driver's port state: 1 online, 3 offline.", id, *p.state);
  if (auto up = link_up(p))
    m.add("tavro_port_link_up", "1 when the link is up.", id, *up ? "1" : "0");
  if (auto gbit = speed_gbit(p))
    m.add("tavro_port_speed_bytes_per_second", "The port's nominal speed.", id,
          std::to_string(*gbit * 125000000));
  const auto values = counter_values(p);
  for (std::size_t i = 0; kCounters[i].key != nullptr; ++i)
    if (values[i]) m.add(kCounters[i].metric, kCounters[i].help, id, *values[i]);
  const auto fpin = fpin_values(p.fpin);
  for (std::size_t i = 0; i < fpin.size(); ++i)
    if (fpin[i])
      m.add("tavro_port_fpin_" + std::string(kFpinKinds[i].key) + "_total", kFpinKinds[i].help, id,
            *fpin[i]);
  for (const auto& d : p.discovered) {
    auto wwn = normalize_wwn(d[hba::kPortWwn]);
    auto code = parse_hex32(d[hba::kState]);
    if (wwn && code)
      m.add("tavro_remote_port_state",
            "HBA API state of a remote port the port sees: 2 online, 3 offline, 6 link down.",
            {{"adapter", a.name}, {"port", p.wwn}, {"remote_port", *wwn}}, std::to_string(*code));
  }
}

// The kernel's counts of the remote port on each path to it, a series each.
void remote_fpin_metrics(Metrics& m, const Adapter& a, const RemotePort& rp) {
  for (const Port& p : a.ports) {
    auto counts = p.remote_fpin.find(rp.wwn);
    if (counts == p.remote_fpin.end()) continue;
    const auto values = fpin_values(counts->second);
    for (std::size_t i = 0; i < values.size(); ++i)
      if (values[i])
        m.add("tavro_remote_port_fpin_" + std::string(kFpinKinds[i].key) + "_total",
              kFpinKinds[i].help, {{"adapter", a.name}, {"port", p.wwn}, {"remote_port", rp.wwn}},
              *values[i]);
  }
}

void remote_metrics(Metrics& m, const Adapter& a, const RemoteNode& r) {
  for (const RemotePort& rp : r.ports) {
    m.add("tavro_remote_port_info", "A remote port the adapter sees.",
          {{"adapter", a.name},
           {"remote_node", r.wwn},
           {"remote_port", rp.wwn},
           {"fc_address", rp.fc_address},
           {"role", role_of(r)},
           {"target_id", r.target_id}},
          "1");
    remote_fpin_metrics(m, a, rp);
  }
  const Labels node{{"adapter", a.name}, {"remote_node", r.wwn}};
  if (!blocked_text(r.blocked).empty())
    m.add("tavro_remote_node_blocked", "1 when the remote node's target is blocked.", node,
          blocked_text(r.blocked) == "yes" ? "1" : "0");
  if (r.lun_count)
    m.add("tavro_remote_node_luns", "LUNs of the remote node.", node, std::to_string(*r.lun_count));
}

}  // namespace

std::string metrics_text(const Client& client, Reply& failure) {
  Session s(client);
  Metrics m;
  // Only what the series show: no bus slots, no LUN numbers.
  auto list = gather(s, {.details = true,
                         .hba = true,
                         .stats = true,
                         .remotes = true,
                         .bus_slot = false,
                         .lun_numbers = false});
  failure = s.failure();
  add_fpin(list, client);
  m.add("tavro_up", "1 when the daemon and the driver answered.", {}, failure.ok() ? "1" : "0");
  if (!failure.ok()) return m.text();
  m.add("tavro_adapters", "Adapters the driver reports.", {}, std::to_string(list.size()));
  for (const Adapter& a : list) {
    m.add("tavro_adapter_info", "The adapter's model and versions.",
          {{"adapter", a.name},
           {"model", a.model.value_or("")},
           {"serial", a.hba_field(hba::kSerial)},
           {"firmware", a.hba_field(hba::kFirmware)},
           {"driver_version", a.hba_field(hba::kDriverVersion)},
           {"node_wwn", a.node_wwn}},
          "1");
    for (const Port& p : a.ports) port_metrics(m, a, p);
    for (const RemoteNode& r : a.remotes) remote_metrics(m, a, r);
  }
  return m.text();
}

int run(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.words.empty()) return usage_error("a command is needed", err);
  Command c(o, out, err);
  const std::string& w = o.words[0];
  const bool no_args = o.words.size() == 1;
  if (w == "status" && no_args) return c.status();
  if (w == "adapters" && no_args) return c.adapters();
  if (w == "ports" && no_args) return c.ports();
  if (w == "targets" && no_args) return c.targets();
  if (w == "stats") return c.stats();
  if (w == "log" && no_args) return c.log();
  if (w == "config" && no_args) return c.config();
  if (w == "get") return c.get(false);
  if (w == "set") return c.get(true);
  if (w == "metrics" && no_args) return c.metrics();
  return usage_error("unknown command or extra arguments: " + join(o.words, " "), err);
}

}  // namespace tavroctl
