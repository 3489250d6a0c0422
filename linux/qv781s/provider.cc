// libqv781s.so for real adapters: the device provider "qv781s" over the
// sysfs model. Its three exports open a device by its Windows name, answer
// one I/O control request (layouts in device_layout.h) and close it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "linux/qv781s/device_layout.h"
#include "sysfs/model.h"

namespace linux_dev {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& a, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) a[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t get32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

struct Node {
  std::uint32_t address = 0;
  std::uint32_t target = 0xFFFFFFFF;
  sysfs::Wwn wwn = 0;
  const sysfs::ScsiDevice* device = nullptr;  // the first SCSI device, if any
};

struct Pending {
  bool armed = false;
  std::uint32_t address = 0;
  std::uint8_t command[16] = {};
  std::uint32_t length = 0;
};

struct OpenDevice {
  std::string adapter;  // the adapter's name
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
    if (name == nullptr || std::strlen(name) != 12 ||
        std::sscanf(name, "\\\\.\\qv781s%2X%c", &number, &rest) != 1 || !upper_hex(name + 10))
      return -ENOENT;
    auto all = model_.adapters();
    if (number >= all.size()) return -ENOENT;
    for (const auto& [handle, device] : open_)
      if (device.adapter == all[number].name) return -EBUSY;  // opened without sharing
    int handle = next_handle_++;
    open_.emplace(handle, OpenDevice{all[number].name, {}});
    return handle;
  }

  int close(int handle) {
    std::lock_guard lock(mutex_);
    return open_.erase(handle) == 1 ? 0 : EBADF;
  }

  int control(int handle, std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
              std::uint32_t out_size, std::uint32_t* returned) {
    (void)in, (void)in_size;
    std::lock_guard lock(mutex_);
    if (returned != nullptr) *returned = 0;
    auto it = open_.find(handle);
    if (it == open_.end()) return EBADF;
    if (out == nullptr || returned == nullptr) return EINVAL;
    std::optional<sysfs::Adapter> adapter;
    for (auto& a : model_.adapters())
      if (a.name == it->second.adapter) adapter = a;
    if (!adapter) return ENODEV;
    Bytes answer;
    int error = answer_for(*adapter, it->second.pending, code, static_cast<std::uint8_t*>(out),
                           out_size, answer);
    if (error != 0) return error;
    if (answer.size() > out_size) return EINVAL;
    if (!answer.empty()) std::memcpy(out, answer.data(), answer.size());
    *returned = static_cast<std::uint32_t>(answer.size());
    return 0;
  }

 private:
  Provider() : model_(sysfs::default_root()) {}

  static bool upper_hex(const char* two) {
    return std::strchr("0123456789ABCDEF", two[0]) && std::strchr("0123456789ABCDEF", two[1]) &&
           two[0] && two[1];
  }

  int answer_for(const sysfs::Adapter& a, Pending& pending, std::uint32_t code,
                 const std::uint8_t* out, std::uint32_t out_size, Bytes& answer) {
    if (std::find(std::begin(kNotKept), std::end(kNotKept), code) != std::end(kNotKept))
      return EOPNOTSUPP;
    if (code != kScsiDataIn) pending.armed = false;  // the data step follows its control step
    switch (code) {
      case kDescription:
        return description(a, answer);
      case kGetNodes:
        return node_list(a, out_size, answer);
      case kScsiControl:
        return scsi_control(a, pending, out, out_size);
      case kScsiDataIn:
        return scsi_data(a, pending, out_size, answer);
      case kStatistics:
        return statistics(a, answer);
      case kWwns:
        return wwns(a, answer);
      default:  // kScsiDataOut too: no command here sends data
        return EINVAL;
    }
  }

  int description(const sysfs::Adapter& a, Bytes& answer) const {
    sysfs::HostInfo info = model_.host_info(a.hosts.front());
    const auto& text = info.model ? info.model : info.description;
    if (!text) return ENODATA;
    answer.assign(kDescriptionBytes, 0);
    std::memcpy(answer.data(), text->data(), std::min(text->size(), kDescriptionBytes - 1));
    return 0;
  }

  // The remote nodes of the adapter's ports, each WWN once, in port order.
  std::vector<Node> nodes(const sysfs::Adapter& a) {
    std::vector<Node> out;
    std::set<sysfs::Wwn> seen;
    ports_.clear();
    for (unsigned host : a.hosts) {
      for (auto& r : model_.remote_ports(host)) ports_.push_back(std::move(r));
    }
    for (const auto& r : ports_) {
      if (!r.node_name || (r.roles.value_or(0) & sysfs::kRoleFabric) ||
          !seen.insert(*r.node_name).second)
        continue;
      Node n;
      n.address = r.port_id.value_or(0);
      n.target = r.scsi_target_id.value_or(0xFFFFFFFF);
      n.wwn = *r.node_name;
      n.device = r.devices.empty() ? nullptr : &r.devices.front();
      out.push_back(n);
    }
    return out;
  }

  int node_list(const sysfs::Adapter& a, std::uint32_t out_size, Bytes& answer) {
    auto list = nodes(a);
    std::size_t size = 4 + list.size() * kNodeRecordBytes;
    if (size > out_size) return E2BIG;
    answer.assign(size, 0);
    put32(answer, 0, static_cast<std::uint32_t>(list.size()));
    for (std::size_t i = 0; i < list.size(); ++i) {
      std::size_t at = 4 + i * kNodeRecordBytes;
      put32(answer, at, list[i].address);
      put32(answer, at + 4, list[i].target);
      put32(answer, at + 8, static_cast<std::uint32_t>(list[i].wwn >> 32));
      put32(answer, at + 12, static_cast<std::uint32_t>(list[i].wwn));
    }
    return 0;
  }

  // The control step: checks the block and remembers the command.
  int scsi_control(const sysfs::Adapter& a, Pending& p, const std::uint8_t* block,
                   std::uint32_t size) {
    p.armed = false;
    if (size != kControlBlockBytes) return EINVAL;
    p.address = get32(block);
    std::memcpy(p.command, block + 4, 16);
    p.length = get32(block + 20);
    if (p.length == 0 || p.length > 16) return EINVAL;
    for (const Node& n : nodes(a)) {
      if (n.address == p.address) {
        p.armed = true;
        return 0;
      }
    }
    return ENODEV;
  }

  // The data step of an INQUIRY: standard data from what the kernel read of
  // the node's first SCSI device.
  int scsi_data(const sysfs::Adapter& a, Pending& p, std::uint32_t out_size, Bytes& answer) {
    if (!p.armed) return EINVAL;
    p.armed = false;
    if (p.command[0] != kInquiry || p.length != 6 || (p.command[1] & 1)) return EIO;
    const sysfs::ScsiDevice* d = nullptr;
    for (const Node& n : nodes(a))
      if (n.address == p.address) d = n.device;
    if (d == nullptr) return EIO;  // no SCSI device answers
    answer.assign(kInquiryBytes, ' ');
    std::fill_n(answer.begin(), 8, 0);
    answer[0] = static_cast<std::uint8_t>(d->type.value_or(0x1F) & 0x1F);
    answer[3] = 2;                  // response data format
    answer[4] = kInquiryBytes - 5;  // additional length
    auto text = [&](const std::optional<std::string>& t, std::size_t at, std::size_t n) {
      if (t) std::memcpy(&answer[at], t->data(), std::min(t->size(), n));
    };
    text(d->vendor, 8, 8);
    text(d->model, 16, 16);
    text(d->rev, 32, 4);
    std::size_t keep = std::min<std::size_t>({answer.size(), p.command[4], out_size});
    answer.resize(keep);
    return 0;
  }

  int statistics(const sysfs::Adapter& a, Bytes& answer) {
    answer.assign(kStatisticsWords * 4, 0xFF);
    bool any = false;
    // A file stuck in its driver reads as not available after a short wait.
    std::vector<sysfs::Stat> which;
    for (std::size_t i = 0; i < kStatisticsWords; ++i) which.push_back(sysfs::Stat(i + 1));
    auto values = model_.statistics(a.hosts.front(), which);
    for (std::size_t i = 0; i < kStatisticsWords; ++i) {
      const auto& v = values[i];
      if (!v) continue;
      any = true;
      put32(answer, 4 * i, static_cast<std::uint32_t>(*v));  // a 32-bit counter wraps
    }
    return any ? 0 : ENODATA;
  }

  int wwns(const sysfs::Adapter& a, Bytes& answer) const {
    auto h = model_.host(a.hosts.front());
    if (!h || !h->port_name || !h->node_name) return ENODATA;
    answer.assign(kWwnRecordBytes, 0);
    sysfs::Wwn both[2] = {*h->port_name, *h->node_name};
    for (int w = 0; w < 2; ++w) {
      for (int i = 0; i < 8; ++i) {
        // Byte i of the WWN, most significant first, lands reversed in its group.
        std::size_t group = 8 * w + (i / 4) * 4;
        answer[group + 3 - i % 4] = static_cast<std::uint8_t>(both[w] >> (56 - 8 * i));
      }
    }
    return 0;
  }

  std::mutex mutex_;
  sysfs::Model model_;
  std::vector<sysfs::RemotePort> ports_;  // the ports the last node list came from
  std::map<int, OpenDevice> open_;
  int next_handle_ = 1;
};

}  // namespace
}  // namespace linux_dev

extern "C" {

__attribute__((visibility("default"))) int qv781s_open(const char* name) {
  return linux_dev::Provider::instance().open(name);
}

__attribute__((visibility("default"))) int qv781s_control(int handle, std::uint32_t code,
                                                          const void* in, std::uint32_t in_size,
                                                          void* out, std::uint32_t out_size,
                                                          std::uint32_t* returned) {
  return linux_dev::Provider::instance().control(handle, code, in, in_size, out, out_size,
                                                 returned);
}

__attribute__((visibility("default"))) int qv781s_close(int handle) {
  return linux_dev::Provider::instance().close(handle);
}

}  // extern "C"
