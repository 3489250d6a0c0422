#include "sim/model.h"

#include <cmath>
#include <csignal>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

namespace sim {

using nlohmann::json;

namespace {

struct ModelError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads the fields of one JSON object, remembering which keys were used so
// that a misspelt key is reported instead of silently ignored. Keys that
// begin with "_" are comments.
class Fields {
 public:
  Fields(const json& object, std::string path) : j_(object), path_(std::move(path)) {
    if (!j_.is_object()) fail("", "must be an object");
  }

  [[noreturn]] void fail(const std::string& key, const std::string& what) const {
    std::string where = path_;
    if (!key.empty()) where += (where.empty() ? "" : ".") + key;
    throw ModelError((where.empty() ? std::string("model") : where) + ": " + what);
  }

  const json* find(const std::string& key) {
    used_.insert(key);
    auto it = j_.find(key);
    return it == j_.end() ? nullptr : &*it;
  }

  const json& need(const std::string& key) {
    const json* v = find(key);
    if (!v) fail(key, "is missing");
    return *v;
  }

  std::string text(const std::string& key, const std::string& fallback, std::size_t max_chars,
                   bool required = false) {
    const json* v = required ? &need(key) : find(key);
    if (!v) return fallback;
    if (!v->is_string()) fail(key, "must be a text");
    std::string s = v->get<std::string>();
    if (s.size() > max_chars)
      fail(key, "is longer than " + std::to_string(max_chars) + " characters");
    return s;
  }

  // A non-negative integer: a JSON number, or a text in decimal or with 0x.
  std::uint64_t unsigned_value(const std::string& key, std::uint64_t fallback, std::uint64_t max) {
    const json* v = find(key);
    if (!v) return fallback;
    return unsigned_of(*v, key, max);
  }

  std::uint64_t unsigned_of(const json& v, const std::string& key, std::uint64_t max) const {
    std::uint64_t value = 0;
    if (v.is_number_unsigned()) {
      value = v.get<std::uint64_t>();
    } else if (v.is_number_integer()) {
      fail(key, "must not be negative");
    } else if (v.is_string()) {
      const std::string s = v.get<std::string>();
      std::size_t used = 0;
      try {
        value = std::stoull(s, &used, 0);
      } catch (const std::exception&) {
        used = 0;
      }
      if (s.empty() || used != s.size() || s[0] == '-' || s[0] == '+') {
        fail(key, "must be a number (decimal or 0x hexadecimal), not \"" + s + "\"");
      }
    } else {
      fail(key, "must be a number");
    }
    if (value > max) fail(key, "is above " + std::to_string(max));
    return value;
  }

  std::uint32_t u32(const std::string& key, std::uint32_t fallback) {
    return static_cast<std::uint32_t>(unsigned_value(key, fallback, 0xFFFFFFFFu));
  }

  std::int32_t i32(const std::string& key, std::int32_t fallback) {
    const json* v = find(key);
    if (!v) return fallback;
    if (!v->is_number_integer()) fail(key, "must be an integer");
    std::int64_t value = v->get<std::int64_t>();
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
      fail(key, "does not fit in 32 bits");
    }
    return static_cast<std::int32_t>(value);
  }

  bool boolean(const std::string& key, bool fallback) {
    const json* v = find(key);
    if (!v) return fallback;
    if (!v->is_boolean()) fail(key, "must be true or false");
    return v->get<bool>();
  }

  double rate(const std::string& key) {
    const json* v = find(key);
    if (!v) return 0;
    if (!v->is_number()) fail(key, "must be a number");
    double d = v->get<double>();
    if (!(d >= 0) || !std::isfinite(d)) fail(key, "must be a finite number of at least 0");
    return d;
  }

  Wwn wwn(const std::string& key, const Wwn* fallback = nullptr) {
    const json* v = fallback ? find(key) : &need(key);
    if (!v) return *fallback;
    Wwn out{};
    if (!v->is_string() || !parse_wwn(v->get<std::string>(), out)) {
      fail(key, "must be a WWN of 16 hexadecimal digits");
    }
    return out;
  }

  const json* array(const std::string& key, bool required, std::size_t max_items) {
    const json* v = required ? &need(key) : find(key);
    if (!v) return nullptr;
    if (!v->is_array()) fail(key, "must be a list");
    if (v->size() > max_items) fail(key, "has more than " + std::to_string(max_items) + " entries");
    return v;
  }

  // Reports the first key that no reader asked for.
  void finish() const {
    for (auto it = j_.begin(); it != j_.end(); ++it) {
      if (!it.key().empty() && it.key()[0] == '_') continue;
      if (!used_.count(it.key())) fail(it.key(), "is not a known field");
    }
  }

  const std::string& path() const { return path_; }

 private:
  const json& j_;
  std::string path_;
  std::set<std::string> used_;
};

std::string item_path(const std::string& path, const char* key, std::size_t i) {
  return path + (path.empty() ? "" : ".") + key + "[" + std::to_string(i) + "]";
}

Lun parse_lun(const json& j, const std::string& path) {
  Fields f(j, path);
  Lun lun;
  lun.number = f.u32("number", 0);
  static const Wwn zero{};
  lun.address = f.wwn("address", &zero);
  lun.description = f.text("description", "", 135);
  f.finish();
  return lun;
}

RemoteNode parse_remote_node(const json& j, const std::string& path) {
  Fields f(j, path);
  RemoteNode rn;
  rn.wwn = f.wwn("wwn");
  rn.type = f.u32("type", rn.type);
  rn.class_bit = f.u32("class", rn.class_bit);
  rn.target_id = f.i32("target_id", rn.target_id);
  rn.blocked = f.boolean("blocked", rn.blocked);
  rn.service_class = f.i32("service_class", rn.service_class);
  rn.scsi_type = f.i32("scsi_type", rn.scsi_type);
  if (const json* ports = f.array("ports", false, 16)) {
    for (std::size_t i = 0; i < ports->size(); ++i) {
      Fields pf((*ports)[i], item_path(path, "ports", i));
      RemotePort rp;
      rp.wwn = pf.wwn("wwn");
      rp.fc_address = pf.u32("fc_address", 0);
      pf.finish();
      rn.ports.push_back(rp);
    }
  }
  if (const json* luns = f.array("luns", false, 64)) {
    for (std::size_t i = 0; i < luns->size(); ++i) {
      rn.luns.push_back(parse_lun((*luns)[i], item_path(path, "luns", i)));
    }
  }
  f.finish();
  return rn;
}

Port parse_port(const json& j, const std::string& path, std::int64_t now_ms) {
  Fields f(j, path);
  Port p;
  p.wwn = f.wwn("wwn");
  p.factory_wwn = f.wwn("factory_wwn", &p.wwn);
  p.speed = f.u32("speed", p.speed);
  p.state = f.u32("state", p.state);
  p.vendor = f.text("vendor", "Quellstone Corporation", 127);
  p.revision = f.text("revision", "", 127);
  p.serial_number = f.text("serial_number", "", 127);
  p.description = f.text("description", "", 127);
  p.version = f.text("version", "", 127);
  p.topology = f.u32("topology", p.topology);
  p.user_topology = f.u32("user_topology", p.user_topology);
  p.class_bit = f.u32("class", p.class_bit);
  p.phys_type = f.u32("phys_type", p.phys_type);
  p.connector_type = f.u32("connector_type", p.connector_type);
  p.link_up = f.boolean("link_up", true);
  if (p.state == 0) p.link_up = false;  // a disabled port holds its link down
  p.link_transitions = f.u32("link_transitions", 0);
  p.fc_address = f.u32("fc_address", 0);
  if (const json* c = f.find("counters")) {
    Fields cf(*c, path + ".counters");
    for (int i = 0; i < kCounterCount; ++i) {
      p.counters[i] =
          cf.unsigned_value(kCounterNames[i], 0, std::numeric_limits<std::uint64_t>::max());
    }
    cf.finish();
  }
  if (const json* r = f.find("rates")) {
    Fields rf(*r, path + ".rates");
    for (int i = 0; i < kCounterCount; ++i) p.rates[i] = rf.rate(kCounterNames[i]);
    rf.finish();
  }
  p.up_ms = 0;
  p.up_since_ms = now_ms;
  if (const json* rns = f.array("remote_nodes", false, 64)) {
    std::set<Wwn> seen;
    for (std::size_t i = 0; i < rns->size(); ++i) {
      std::string rpath = item_path(path, "remote_nodes", i);
      RemoteNode rn = parse_remote_node((*rns)[i], rpath);
      if (!seen.insert(rn.wwn).second) {
        throw ModelError(rpath + ".wwn: " + wwn_text(rn.wwn) + " is listed twice on this port");
      }
      p.remote_nodes.push_back(std::move(rn));
    }
  }
  f.finish();
  return p;
}

Adapter parse_adapter(const json& j, const std::string& path, std::int64_t now_ms) {
  Fields f(j, path);
  Adapter a;
  a.name = f.text("name", "", 63, true);
  if (a.name.empty()) f.fail("name", "must not be empty");
  a.bus_name = f.text("bus_name", "PCI", 63);
  a.model = f.text("model", "", 255);
  a.duplex = f.u32("duplex", a.duplex);
  if (a.duplex > 255) f.fail("duplex", "must fit in one byte");
  a.node_wwn = f.wwn("node_wwn");
  if (f.find("port_wwn")) {
    static const Wwn zero{};
    a.port_wwn = f.wwn("port_wwn", &zero);
  }
  a.node_name = f.text("node_name", "", 143);
  a.class_preferences = f.text("class_preferences", "3", 143);
  const json* ports = f.array("ports", true, 8);
  if (ports->empty()) f.fail("ports", "must list at least one port");
  for (std::size_t i = 0; i < ports->size(); ++i) {
    a.ports.push_back(parse_port((*ports)[i], item_path(path, "ports", i), now_ms));
  }
  f.finish();
  return a;
}

int signal_of(const json& v, const Fields& f, const std::string& key) {
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    if (s == "SIGSEGV") return SIGSEGV;
    if (s == "SIGBUS") return SIGBUS;
    if (s == "SIGILL") return SIGILL;
    if (s == "SIGFPE") return SIGFPE;
    f.fail(key, "must be SIGSEGV, SIGBUS, SIGILL or SIGFPE, not \"" + s + "\"");
  }
  return static_cast<int>(f.unsigned_of(v, key, 64));
}

void parse_faults(const json& j, Faults& faults) {
  Fields f(j, "faults");
  if (const json* list = f.array("messages", false, 256)) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      Fields mf((*list)[i], item_path("faults", "messages", i));
      const json& number = mf.need("message");
      auto message = static_cast<std::uint32_t>(mf.unsigned_of(number, "message", 0xFFFFFFFFu));
      MessageFault mfault;
      mfault.delay_ms = static_cast<int>(mf.unsigned_value("delay_ms", 0, 600000));
      mfault.no_answer = mf.boolean("no_answer", false);
      if (const json* wn = mf.find("wrong_number")) {
        if (wn->is_boolean()) {
          mfault.wrong_number = wn->get<bool>() ? 1 : 0;
        } else {
          mfault.wrong_number =
              static_cast<std::uint32_t>(mf.unsigned_of(*wn, "wrong_number", 0xFFFFFFFFu));
        }
      }
      mfault.wrong_object = mf.boolean("wrong_object", false);
      mfault.lxs_status = mf.u32("lxs_status", 0);
      if (mfault.lxs_status != 0 && (mfault.lxs_status < 2 || mfault.lxs_status > 5)) {
        mf.fail("lxs_status", "must be 2 to 5");
      }
      mfault.driver_error = mf.u32("driver_error", 0);
      mfault.caller_thread = mf.boolean("caller_thread", false);
      mfault.twice = mf.boolean("twice", false);
      mfault.late = mf.boolean("late", false);
      mf.finish();
      if (!faults.messages.emplace(message, mfault).second) {
        mf.fail("message", "names a message that an earlier entry already names");
      }
    }
  }
  faults.driver_error_on_register = f.u32("driver_error_on_register", 0);
  if (const json* list = f.array("crash", false, kFunctionCount)) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      const json& c = (*list)[i];
      std::string name;
      int signal = SIGSEGV;
      std::string cpath = item_path("faults", "crash", i);
      if (c.is_string()) {
        name = c.get<std::string>();
      } else {
        Fields cf(c, cpath);
        name = cf.text("function", "", 64, true);
        if (const json* s = cf.find("signal")) signal = signal_of(*s, cf, "signal");
        cf.finish();
      }
      int index = function_index(name);
      if (index < 0) throw ModelError(cpath + ": \"" + name + "\" is not a q_ function");
      faults.crash[index] = signal;
    }
  }
  faults.alloc_fail = static_cast<int>(f.unsigned_value("alloc_fail", 0, 1000000));
  faults.refuse_register = static_cast<int>(f.unsigned_value("refuse_register", 0, 1000000));
  f.finish();
}

void check_unique_wwns(const Model& model) {
  std::map<Wwn, std::string> owners;
  auto claim = [&](const Wwn& wwn, const std::string& path) {
    auto [it, fresh] = owners.emplace(wwn, path);
    if (!fresh) {
      throw ModelError(path + ": WWN " + wwn_text(wwn) + " is already used by " + it->second);
    }
  };
  std::set<std::string> names;
  for (std::size_t a = 0; a < model.adapters.size(); ++a) {
    const Adapter& ad = model.adapters[a];
    std::string apath = "adapters[" + std::to_string(a) + "]";
    if (!names.insert(ad.name).second) {
      throw ModelError(apath + ".name: \"" + ad.name + "\" is already used by another adapter");
    }
    claim(ad.node_wwn, apath + ".node_wwn");
    for (std::size_t p = 0; p < ad.ports.size(); ++p) {
      claim(ad.ports[p].wwn, apath + ".ports[" + std::to_string(p) + "].wwn");
    }
  }
}

}  // namespace

int function_index(const std::string& name) {
  for (int i = 0; i < kFunctionCount; ++i) {
    if (name == kFunctionNames[i]) return i;
  }
  return -1;
}

bool parse_model(const std::string& json_text, std::int64_t now_ms, Model& model, Faults& faults,
                 std::string& error) {
  try {
    json j = json::parse(json_text, nullptr, true, /*ignore_comments=*/true);
    Fields f(j, "");
    Model m;
    Faults fl;
    m.fcp_manual_id = f.i32("fcp_manual_id", 0);
    const json* adapters = f.array("adapters", true, 8);
    for (std::size_t i = 0; i < adapters->size(); ++i) {
      m.adapters.push_back(parse_adapter((*adapters)[i], item_path("", "adapters", i), now_ms));
    }
    if (const json* fj = f.find("faults")) parse_faults(*fj, fl);
    f.find("devices");  // read by the device provider (sim/qv781s)
    f.find("hbaapi");   // faults of the simulated HBA API library, read there
    f.finish();
    check_unique_wwns(m);
    model = std::move(m);
    faults = std::move(fl);
    return true;
  } catch (const json::parse_error& e) {
    error = std::string("not valid JSON: ") + e.what();
  } catch (const ModelError& e) {
    error = e.what();
  } catch (const std::exception& e) {
    error = std::string("cannot read the model: ") + e.what();
  }
  return false;
}

std::uint64_t counter_value(const Port& port, Counter counter, std::int64_t now_ms) {
  std::int64_t up = port.up_ms;
  if (port.link_up && now_ms > port.up_since_ms) up += now_ms - port.up_since_ms;
  double grown = port.rates[counter] * static_cast<double>(up) / 1000.0;
  // Counters wrap; converting a value of 2^64 or more would be undefined.
  constexpr double kWrap = 18446744073709551616.0;
  if (grown >= kWrap) grown = std::fmod(grown, kWrap);
  return port.counters[counter] + static_cast<std::uint64_t>(grown);
}

bool set_link(Port& port, bool up, std::int64_t now_ms) {
  if (port.link_up == up) return false;
  if (up) {
    port.up_since_ms = now_ms;
  } else if (now_ms > port.up_since_ms) {
    port.up_ms += now_ms - port.up_since_ms;
  }
  port.link_up = up;
  ++port.link_transitions;
  return true;
}

}  // namespace sim
