#include "sim/qv781s/device_model.h"

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace sim {

using nlohmann::json;

namespace {

struct DeviceError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const std::set<std::string> kDeviceKeys = {
    "number",    "present",    "description",  "statistics",    "scsi_stats",
    "net_stats", "registers",  "frame",        "io_throughput", "mb_throughput",
    "eeprom",    "nodes_scsi", "ip_interface", "fail"};
const std::set<std::string> kEepromKeys = {"words16", "bytes11", "words32",  "bytes32",
                                           "words36", "address", "id",       "word80",
                                           "type",    "serial",  "bytes106", "words114"};

void check_keys(const json& j, const std::set<std::string>& known, const std::string& path) {
  if (!j.is_object()) throw DeviceError(path + ": must be an object");
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (it.key().empty() || it.key()[0] == '_') continue;
    if (!known.count(it.key())) throw DeviceError(path + "." + it.key() + ": is not a known field");
  }
}

std::uint64_t number_of(const json& v, const std::string& path, std::uint64_t max) {
  std::uint64_t value = 0;
  if (v.is_number_unsigned()) {
    value = v.get<std::uint64_t>();
  } else if (v.is_string()) {
    const std::string s = v.get<std::string>();
    char* end = nullptr;
    value = std::strtoull(s.c_str(), &end, 0);
    if (s.empty() || *end != 0 || s[0] == '-') throw DeviceError(path + ": must be a number");
  } else {
    throw DeviceError(path + ": must be a number of at least 0");
  }
  if (value > max) throw DeviceError(path + ": is above " + std::to_string(max));
  return value;
}

std::vector<std::uint32_t> words(const json& j, const char* key, std::size_t count,
                                 const std::string& path) {
  std::vector<std::uint32_t> out(count, 0);
  auto it = j.find(key);
  if (it == j.end()) return out;
  std::string p = path + "." + key;
  if (!it->is_array() || it->size() > count) {
    throw DeviceError(p + ": must be a list of at most " + std::to_string(count) + " numbers");
  }
  for (std::size_t i = 0; i < it->size(); ++i) {
    out[i] = static_cast<std::uint32_t>(number_of((*it)[i], p, 0xFFFFFFFFu));
  }
  return out;
}

std::string text_of(const json& j, const char* key, const std::string& fallback, std::size_t max,
                    const std::string& path) {
  auto it = j.find(key);
  if (it == j.end()) return fallback;
  if (!it->is_string() || it->get<std::string>().size() > max) {
    throw DeviceError(path + "." + key + ": must be a text of at most " + std::to_string(max) +
                      " characters");
  }
  return it->get<std::string>();
}

void put_le(std::uint8_t* at, std::uint32_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Values of one field group, each `size` bytes wide, placed from `offset` on.
void place(std::array<std::uint8_t, kEepromBytes>& e, const json& j, const char* key,
           std::size_t offset, std::size_t size, std::size_t count, const std::string& path) {
  std::vector<std::uint32_t> values = words(j, key, count, path);
  for (std::size_t i = 0; i < count; ++i) {
    if (size < 4 && values[i] >> (8 * size) != 0) {
      throw DeviceError(path + "." + key + ": a value does not fit " + std::to_string(size) +
                        " byte(s)");
    }
    put_le(&e[offset + i * size], values[i], size);
  }
}

void place_text(std::array<std::uint8_t, kEepromBytes>& e, const std::string& text,
                std::size_t offset) {
  std::memcpy(&e[offset], text.data(), text.size());
}

void place_hex(std::array<std::uint8_t, kEepromBytes>& e, const json& j, const char* key,
               std::size_t offset, const Wwn& fallback, const std::string& path) {
  Wwn bytes = fallback;
  auto it = j.find(key);
  if (it != j.end() && (!it->is_string() || !parse_wwn(it->get<std::string>(), bytes))) {
    throw DeviceError(path + "." + key + ": must be 16 hexadecimal digits");
  }
  std::memcpy(&e[offset], bytes.data(), bytes.size());
}

std::array<std::uint8_t, kEepromBytes> parse_eeprom(const json& j, const Adapter& adapter,
                                                    const std::string& path) {
  check_keys(j, kEepromKeys, path);
  std::array<std::uint8_t, kEepromBytes> e{};
  place(e, j, "words16", 0, 2, 5, path);
  place(e, j, "bytes11", 11, 1, 5, path);
  place(e, j, "words32", 16, 4, 4, path);
  place(e, j, "bytes32", 32, 1, 4, path);
  place(e, j, "words36", 36, 4, 6, path);
  place_hex(e, j, "address", 64, adapter.node_wwn, path);
  place_hex(e, j, "id", 72, Wwn{}, path);
  place(e, j, "word80", 80, 4, 1, path);
  std::string serial = adapter.ports.empty() ? "" : adapter.ports[0].serial_number;
  place_text(e, text_of(j, "type", "QV781", 6, path), 84);
  place_text(e, text_of(j, "serial", serial.substr(0, 13), 13, path), 92);
  place(e, j, "bytes106", 106, 1, 8, path);
  place(e, j, "words114", 114, 2, 3, path);
  return e;
}

// "word80" is one number: accept it bare as well as in a list.
json normalise_eeprom(json j) {
  auto it = j.find("word80");
  if (it != j.end() && !it->is_array()) j["word80"] = json::array({*it});
  return j;
}

std::string inquiry_text(const std::string& description) {
  std::string text = description.substr(0, 28);
  text.resize(28, ' ');
  return text;
}

// The remote nodes the adapter's ports see, each WWN once.
std::vector<DeviceNode> nodes_of(const Adapter& adapter, bool scsi) {
  std::vector<DeviceNode> nodes;
  for (const Port& port : adapter.ports) {
    for (const RemoteNode& remote : port.remote_nodes) {
      bool seen = false;
      for (const DeviceNode& n : nodes) seen = seen || n.wwn == remote.wwn;
      if (seen) continue;
      DeviceNode node;
      node.wwn = remote.wwn;
      node.address = remote.ports.empty() ? 0 : remote.ports[0].fc_address;
      node.target_id = static_cast<std::uint32_t>(remote.target_id);
      node.scsi = scsi && !remote.luns.empty();
      node.peripheral = static_cast<std::uint8_t>(remote.scsi_type & 0x1F);
      if (node.scsi) node.inquiry = inquiry_text(remote.luns[0].description);
      nodes.push_back(node);
    }
  }
  return nodes;
}

Wwn first_port_wwn(const Adapter& adapter) {
  if (adapter.port_wwn) return *adapter.port_wwn;
  return adapter.ports.empty() ? adapter.node_wwn : adapter.ports[0].wwn;
}

Device parse_device(const json& j, const Adapter& adapter, int index, const std::string& path) {
  check_keys(j, kDeviceKeys, path);
  Device d;
  auto num = j.find("number");
  d.number = num == j.end() ? index : static_cast<int>(number_of(*num, path + ".number", 127));
  auto present = j.find("present");
  if (present != j.end() && !present->is_boolean()) {
    throw DeviceError(path + ".present: must be true or false");
  }
  d.present = present == j.end() || present->get<bool>();
  d.description = text_of(j, "description", adapter.model.substr(0, 79), 79, path);
  d.statistics_given = j.contains("statistics");
  d.statistics = words(j, "statistics", 19, path);
  d.scsi_stats = words(j, "scsi_stats", 10, path);
  d.net_stats = words(j, "net_stats", 25, path);
  d.registers = words(j, "registers", 21, path);
  d.frame = words(j, "frame", 35, path);
  d.io_throughput = words(j, "io_throughput", 5, path);
  d.mb_throughput = words(j, "mb_throughput", 5, path);
  json eeprom = j.contains("eeprom") ? normalise_eeprom(j["eeprom"]) : json::object();
  d.eeprom = parse_eeprom(eeprom, adapter, path + ".eeprom");
  d.first_wwn = first_port_wwn(adapter);
  d.second_wwn = adapter.node_wwn;
  auto scsi = j.find("nodes_scsi");
  d.nodes = nodes_of(adapter, scsi == j.end() || scsi->get<bool>());
  char fallback[8];
  std::snprintf(fallback, sizeof fallback, "%03d", d.number);
  d.ip_interface = text_of(j, "ip_interface", fallback, 11, path);
  for (std::uint32_t code : words(j, "fail", j.contains("fail") ? j["fail"].size() : 0, path)) {
    d.failing.insert(code);
  }
  d.port = adapter.ports.empty() ? nullptr : &adapter.ports[0];
  return d;
}

}  // namespace

bool parse_devices(const std::string& json_text, const Model& model, std::vector<Device>& devices,
                   std::string& error) {
  try {
    json j = json::parse(json_text, nullptr, true, /*ignore_comments=*/true);
    json section = j.contains("devices") ? j["devices"] : json::array();
    if (!section.is_array() || section.size() > model.adapters.size()) {
      throw DeviceError("devices: must be a list of at most one entry per adapter");
    }
    std::vector<Device> out;
    std::set<int> numbers;
    for (std::size_t i = 0; i < model.adapters.size(); ++i) {
      std::string path = "devices[" + std::to_string(i) + "]";
      json entry = i < section.size() ? section[i] : json::object();
      out.push_back(parse_device(entry, model.adapters[i], static_cast<int>(i), path));
      if (!numbers.insert(out.back().number).second) {
        throw DeviceError(path + ".number: is already used by another device");
      }
    }
    devices = std::move(out);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

std::array<std::uint8_t, kEepromBytes> eeprom_driver_order(
    const std::array<std::uint8_t, kEepromBytes>& shown) {
  std::array<std::uint8_t, kEepromBytes> e = shown;
  // 32-bit words at 16 to 28 keep their 16-bit halves the other way round.
  for (std::size_t w = 16; w <= 28; w += 4) {
    std::swap(e[w], e[w + 2]);
    std::swap(e[w + 1], e[w + 3]);
  }
  // Bytes 64 to 79 and the words at 114 to 118 are stored big-endian by 16 bits.
  for (std::size_t u = 64; u < 80; u += 2) std::swap(e[u], e[u + 1]);
  for (std::size_t u = 114; u < 120; u += 2) std::swap(e[u], e[u + 1]);
  // The word at 80 is stored most significant byte first.
  std::swap(e[80], e[83]);
  std::swap(e[81], e[82]);
  return e;
}

std::array<std::uint8_t, 16> wwn_record(const Wwn& first, const Wwn& second) {
  std::array<std::uint8_t, 16> r{};
  for (std::size_t i = 0; i < 8; ++i) {
    // Each 4-byte group reversed.
    r[(i / 4) * 4 + 3 - i % 4] = first[i];
    r[8 + (i / 4) * 4 + 3 - i % 4] = second[i];
  }
  return r;
}

}  // namespace sim
