// libqv781s.so: the simulated adapter devices, loaded by the programs as the
// device provider "qv781s". Its three exports open a device by its Windows
// name, answer one I/O control request and close it.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/model.h"
#include "sim/qv781s/device_model.h"
#include "sim/sim_control.h"

namespace sim {
namespace {

// Environment variable naming a file that gets one line per open and close.
constexpr const char* kDeviceLogVariable = "TAVRO_SIM_DEVICE_LOG";

constexpr std::uint32_t kDescription = 0x222022, kGetNodes = 0x222012, kScsiControl = 0x22203E,
                        kScsiDataIn = 0x222041, kScsiDataOut = 0x222046, kIpAddr = 0x222064,
                        kStatistics = 0x222082, kScsiStats = 0x222086, kNetStats = 0x22208A,
                        kRegisters = 0x22208E, kEeprom = 0x222092, kFrame = 0x222096,
                        kWwns = 0x22209E, kMbThroughput = 0x2220AA, kIoThroughput = 0x2220AE;
constexpr std::size_t kNodeListBytes = 4096, kNodeRecordBytes = 28;
constexpr std::size_t kControlBlockBytes = 32;
constexpr std::uint8_t kInquiry = 0x12;

struct Pending {
  bool armed = false;
  std::uint32_t address = 0;
  std::uint8_t command[16] = {};
  std::uint32_t length = 0;
};

struct OpenDevice {
  std::size_t device;  // index into devices
  Pending pending;
};

class Provider {
 public:
  static Provider& instance() {
    static Provider provider;
    return provider;
  }

  int open(const char* name) {
    std::lock_guard lock(mutex_);
    unsigned number = 0;
    char rest = 0;
    int result = -ENOENT;
    if (name != nullptr && std::sscanf(name, "\\\\.\\qv781s%2X%c", &number, &rest) == 1 &&
        std::strlen(name) == 12 && upper_hex(name + 10)) {
      result = open_number(static_cast<int>(number));
    }
    log("open %s %s", name == nullptr ? "(null)" : name, result >= 0 ? "ok" : "missing");
    return result;
  }

  int close(int handle) {
    std::lock_guard lock(mutex_);
    auto it = open_.find(handle);
    if (it == open_.end()) return EBADF;
    log("close %02X", devices_[it->second.device].number);
    open_.erase(it);
    return 0;
  }

  int control(int handle, std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
              std::uint32_t out_size, std::uint32_t* returned) {
    std::lock_guard lock(mutex_);
    if (returned != nullptr) *returned = 0;
    auto it = open_.find(handle);
    if (it == open_.end()) return EBADF;
    if (out == nullptr || returned == nullptr) return EINVAL;
    const Device& d = devices_[it->second.device];
    if (d.failing.count(code)) return EIO;
    std::vector<std::uint8_t> answer;
    int error =
        answer_for(d, it->second.pending, code, static_cast<const std::uint8_t*>(in),
                   in == nullptr ? 0 : in_size, static_cast<std::uint8_t*>(out), out_size, answer);
    if (error != 0) return error;
    if (answer.size() > out_size) return EINVAL;  // the buffer is too small
    if (!answer.empty()) std::memcpy(out, answer.data(), answer.size());
    *returned = static_cast<std::uint32_t>(answer.size());
    return 0;
  }

 private:
  Provider() { load(); }

  static bool upper_hex(const char* two) {
    for (int i = 0; i < 2; ++i) {
      if (std::strchr("0123456789ABCDEF", two[i]) == nullptr || two[i] == 0) return false;
    }
    return true;
  }

  void load() {
    const char* path = std::getenv(SIM_MODEL_VARIABLE);
    std::string text = default_model_json();
    std::string source = "embedded default model";
    if (path != nullptr && *path != 0) {
      std::ifstream file(path);
      std::stringstream all;
      all << file.rdbuf();
      text = all.str();
      source = path;
    }
    Faults faults;
    std::string error;
    auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count();
    if (!parse_model(text, now, model_, faults, error) ||
        !parse_devices(text, model_, devices_, error)) {
      std::fprintf(stderr, "qv781s (simulated devices): %s: %s; no device is present\n",
                   source.c_str(), error.c_str());
      devices_.clear();
    }
  }

  int open_number(int number) {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      if (devices_[i].number != number || !devices_[i].present) continue;
      for (const auto& [handle, device] : open_) {
        if (device.device == i) return -EBUSY;  // opened without sharing
      }
      int handle = next_handle_++;
      open_.emplace(handle, OpenDevice{i, {}});
      return handle;
    }
    return -ENOENT;
  }

  static void put32(std::vector<std::uint8_t>& a, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) a[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }

  static std::vector<std::uint8_t> word_record(const std::vector<std::uint32_t>& words) {
    std::vector<std::uint8_t> a(words.size() * 4);
    for (std::size_t i = 0; i < words.size(); ++i) put32(a, 4 * i, words[i]);
    return a;
  }

  std::vector<std::uint32_t> statistics(const Device& d) const {
    std::vector<std::uint32_t> words = d.statistics;
    if (d.statistics_given || d.port == nullptr) return words;
    auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count();
    for (int c = 0; c < kCounterCount; ++c) {
      words[c] = static_cast<std::uint32_t>(counter_value(*d.port, static_cast<Counter>(c), now));
    }
    return words;
  }

  static std::vector<std::uint8_t> node_list(const Device& d) {
    std::vector<std::uint8_t> a(kNodeListBytes, 0);
    put32(a, 0, static_cast<std::uint32_t>(d.nodes.size()));
    for (std::size_t i = 0; i < d.nodes.size(); ++i) {
      std::size_t at = 4 + i * kNodeRecordBytes;
      const DeviceNode& n = d.nodes[i];
      put32(a, at, n.address);
      put32(a, at + 4, n.target_id);
      put32(a, at + 8,
            static_cast<std::uint32_t>(n.wwn[0]) << 24 | n.wwn[1] << 16 | n.wwn[2] << 8 | n.wwn[3]);
      put32(a, at + 12,
            static_cast<std::uint32_t>(n.wwn[4]) << 24 | n.wwn[5] << 16 | n.wwn[6] << 8 | n.wwn[7]);
    }
    return a;
  }

  // The control step: checks the block and remembers the command.
  static int scsi_control(const Device& d, Pending& p, const std::uint8_t* block,
                          std::uint32_t size) {
    p.armed = false;
    if (size != kControlBlockBytes) return EINVAL;
    std::memcpy(&p.address, block, 4);
    std::memcpy(p.command, block + 4, 16);
    std::memcpy(&p.length, block + 20, 4);
    if (p.length == 0 || p.length > 16) return EINVAL;
    for (const DeviceNode& n : d.nodes) {
      if (n.address == p.address) {
        p.armed = true;
        return 0;
      }
    }
    return ENODEV;
  }

  // The data step of an INQUIRY: standard data, vendor, product and
  // revision at bytes 8 to 35.
  static int scsi_data(const Device& d, Pending& p, std::uint32_t out_size,
                       std::vector<std::uint8_t>& answer) {
    if (!p.armed) return EINVAL;
    p.armed = false;
    const DeviceNode* node = nullptr;
    for (const DeviceNode& n : d.nodes) node = n.address == p.address ? &n : node;
    if (node == nullptr || !node->scsi) return EIO;  // no SCSI target answers
    if (p.command[0] != kInquiry || p.length != 6) return EIO;
    std::size_t allocation = p.command[4];
    answer.assign(36, 0);
    answer[0] = node->peripheral;
    answer[2] = 5;     // SPC-3
    answer[3] = 2;     // response data format
    answer[4] = 31;    // additional length
    answer[7] = 0x02;  // command queuing
    std::memcpy(&answer[8], node->inquiry.data(), 28);
    std::size_t keep = std::min<std::size_t>({answer.size(), allocation, out_size});
    answer.resize(keep);
    return 0;
  }

  // The interface number of the adapter whose EEPROM address is given.
  static std::vector<std::uint8_t> ip_answer(const Device& d, const std::uint8_t* in,
                                             std::uint32_t in_size) {
    char expected[17];
    for (int i = 0; i < 8; ++i) std::snprintf(expected + 2 * i, 3, "%02X", d.eeprom[64 + i]);
    bool match =
        in != nullptr && in_size >= 17 && std::memcmp(in, expected, 16) == 0 && in[16] == 0;
    std::string text = match ? d.ip_interface : "N/A";
    std::vector<std::uint8_t> a(12, 0);
    std::memcpy(a.data(), text.data(), std::min<std::size_t>(text.size(), 11));
    return a;
  }

  int answer_for(const Device& d, Pending& pending, std::uint32_t code, const std::uint8_t* in,
                 std::uint32_t in_size, std::uint8_t* out, std::uint32_t out_size,
                 std::vector<std::uint8_t>& answer) const {
    switch (code) {
      case kDescription: {
        answer.assign(80, 0);
        std::memcpy(answer.data(), d.description.data(),
                    std::min<std::size_t>(d.description.size(), 79));
        return 0;
      }
      case kGetNodes:
        answer = node_list(d);
        return 0;
      case kScsiControl:
        return scsi_control(d, pending, out, out_size);
      case kScsiDataIn:
        return scsi_data(d, pending, out_size, answer);
      case kScsiDataOut:
        pending.armed = false;
        return EINVAL;
      case kIpAddr:
        answer = ip_answer(d, in, in_size);
        return 0;
      case kStatistics:
        answer = word_record(statistics(d));
        return 0;
      case kScsiStats:
        answer = word_record(d.scsi_stats);
        return 0;
      case kNetStats:
        answer = word_record(d.net_stats);
        return 0;
      case kRegisters:
        answer = word_record(d.registers);
        return 0;
      case kEeprom: {
        auto e = eeprom_driver_order(d.eeprom);
        answer.assign(e.begin(), e.end());
        return 0;
      }
      case kFrame:
        answer = word_record(d.frame);
        return 0;
      case kWwns: {
        auto r = wwn_record(d.first_wwn, d.second_wwn);
        answer.assign(r.begin(), r.end());
        return 0;
      }
      case kMbThroughput:
        answer = word_record(d.mb_throughput);
        return 0;
      case kIoThroughput:
        answer = word_record(d.io_throughput);
        return 0;
      default:
        return EINVAL;
    }
  }

  void log(const char* format, ...) const __attribute__((format(printf, 2, 3))) {
    const char* path = std::getenv(kDeviceLogVariable);
    if (path == nullptr || *path == 0) return;
    FILE* file = std::fopen(path, "a");
    if (file == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
  }

  mutable std::mutex mutex_;
  Model model_;
  std::vector<Device> devices_;
  std::map<int, OpenDevice> open_;
  int next_handle_ = 1;
};

}  // namespace
}  // namespace sim

extern "C" {

int qv781s_open(const char* name) {
  return sim::Provider::instance().open(name);
}

int qv781s_control(int handle, std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
                   std::uint32_t out_size, std::uint32_t* returned) {
  return sim::Provider::instance().control(handle, code, in, in_size, out, out_size, returned);
}

int qv781s_close(int handle) {
  return sim::Provider::instance().close(handle);
}

}  // extern "C"
