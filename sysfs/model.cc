#include "sysfs/model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>
#include <tuple>

#include "sysfs/parse.h"

namespace fs = std::filesystem;

namespace sysfs {
namespace {

constexpr const char* kStatFiles[] = {"seconds_since_last_reset",
                                      "tx_frames",
                                      "tx_words",
                                      "rx_frames",
                                      "rx_words",
                                      "lip_count",
                                      "nos_count",
                                      "error_frames",
                                      "dumped_frames",
                                      "link_failure_count",
                                      "loss_of_sync_count",
                                      "loss_of_signal_count",
                                      "prim_seq_protocol_err_count",
                                      "invalid_tx_word_count",
                                      "invalid_crc_count",
                                      "fcp_input_requests",
                                      "fcp_output_requests",
                                      "fcp_control_requests",
                                      "fcp_input_megabytes",
                                      "fcp_output_megabytes"};
static_assert(std::size(kStatFiles) == static_cast<std::size_t>(Stat::count_));

// Where each driver attribute may be found, first match wins: the transport's
// own fc_host attribute (filled by the FCoE drivers), then the scsi_host
// spellings of the FC drivers (qla2xxx, lpfc, bfa, fnic).
struct InfoRow {
  const char* folder;  // "fc_host" or "scsi_host"
  const char* file;
  std::optional<std::string> HostInfo::*field;
};
constexpr InfoRow kInfoRows[] = {{"scsi_host", "proc_name", &HostInfo::driver},
                                 {"fc_host", "manufacturer", &HostInfo::manufacturer},
                                 {"fc_host", "model", &HostInfo::model},
                                 {"scsi_host", "model_name", &HostInfo::model},
                                 {"scsi_host", "modelname", &HostInfo::model},
                                 {"scsi_host", "model", &HostInfo::model},
                                 {"fc_host", "model_description", &HostInfo::description},
                                 {"scsi_host", "model_desc", &HostInfo::description},
                                 {"scsi_host", "modeldesc", &HostInfo::description},
                                 {"scsi_host", "model_description", &HostInfo::description},
                                 {"fc_host", "serial_number", &HostInfo::serial_number},
                                 {"scsi_host", "serial_num", &HostInfo::serial_number},
                                 {"scsi_host", "serialnum", &HostInfo::serial_number},
                                 {"scsi_host", "serial_number", &HostInfo::serial_number},
                                 {"fc_host", "firmware_version", &HostInfo::firmware_version},
                                 {"scsi_host", "fw_version", &HostInfo::firmware_version},
                                 {"scsi_host", "fwrev", &HostInfo::firmware_version},
                                 {"scsi_host", "firmware_version", &HostInfo::firmware_version},
                                 {"fc_host", "driver_version", &HostInfo::driver_version},
                                 {"scsi_host", "driver_version", &HostInfo::driver_version},
                                 {"scsi_host", "lpfc_drvr_version", &HostInfo::driver_version},
                                 {"scsi_host", "drv_version", &HostInfo::driver_version},
                                 {"fc_host", "hardware_version", &HostInfo::hardware_version},
                                 {"scsi_host", "hdw", &HostInfo::hardware_version},
                                 {"scsi_host", "hardware_version", &HostInfo::hardware_version},
                                 {"scsi_host", "optrom_bios_version", &HostInfo::option_rom},
                                 {"scsi_host", "option_rom_version", &HostInfo::option_rom},
                                 {nullptr, nullptr, nullptr}};

// "<prefix><number>" with nothing after the number.
std::optional<unsigned> numbered(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return std::nullopt;
  unsigned n = 0;
  char tail = 0;
  if (std::sscanf(std::string(name.substr(prefix.size())).c_str(), "%u%c", &n, &tail) != 1)
    return std::nullopt;
  return n;
}

// The entries of a folder; empty when it cannot be read.
std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    out.push_back(it->path().filename().string());
  return out;
}

struct PciFunction {
  std::string device;  // "0000:3b:00"
  unsigned function = 0;
};

// A path component "DDDD:BB:SS.F".
std::optional<PciFunction> pci_function(const std::string& name) {
  unsigned d = 0, b = 0, s = 0, f = 0;
  int end = 0;
  if (name.size() != 12 ||
      std::sscanf(name.c_str(), "%4x:%2x:%2x.%1u%n", &d, &b, &s, &f, &end) != 4 || end != 12)
    return std::nullopt;
  return PciFunction{name.substr(0, 10), f};
}

// An attribute file read whole. The kernel writes at most one page (64 KiB on
// some platforms); a longer file is not one of its attributes and reads as
// nothing rather than cut.
std::optional<std::string> read_file(const std::string& path, std::atomic<std::uint64_t>& reads) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  ++reads;
  std::string text;
  char buf[4096];
  ssize_t n = 0;
  while (text.size() <= kMaxAttributeSize && (n = ::read(fd, buf, sizeof buf)) > 0)
    text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  if (n < 0 || text.size() > kMaxAttributeSize) return std::nullopt;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

// An attribute's value, or empty when its file could not be read.
template <class Parse>
auto parsed(Parse parse, const std::optional<std::string>& text) -> decltype(parse(*text)) {
  return text ? parse(*text) : std::nullopt;
}

}  // namespace

const char* stat_file(Stat s) {
  return kStatFiles[static_cast<std::size_t>(s)];
}

std::string default_root() {
  const char* env = std::getenv("TAVRO_SYSFS_ROOT");
  return env && *env ? env : "/sys";
}

Model::Model(std::string root, Clock clock)
    : root_(std::move(root)), clock_(std::move(clock)), shared_(std::make_shared<Shared>()) {
  shared_->clock = clock_;
}

// Reads not yet begun are dropped; a reader thread ends after its read.
Model::~Model() {
  std::lock_guard lock(shared_->lock);
  shared_->reading -= static_cast<int>(shared_->queue.size());
  shared_->queue.clear();
}

std::optional<std::string> Model::read(const std::string& path) const {
  return read_file(path, shared_->file_reads);
}

bool Model::write(const std::string& path, std::string_view text) const {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && ok;
}

std::string Model::host_dir(unsigned number) const {
  return root_ + "/class/fc_host/host" + std::to_string(number);
}

std::shared_ptr<const View> Model::look(const View* known) const {
  auto v = std::make_shared<View>();
  v->generation = generation_.load();
  v->when = clock_();
  for (const auto& name : entries(root_ + "/class/fc_host")) {
    auto n = numbered(name, "host");
    if (!n) continue;
    // A host of the last look keeps what does not change, unless its link
    // changed state (a new link may bring a new speed list or FC-4 types).
    const FcHost* old = nullptr;
    if (known && known->hosts.count(*n) && known->infos.count(*n)) old = &known->hosts.at(*n);
    std::optional<FcHost> h;
    bool keep = old != nullptr;
    if (keep) {
      h = *old;
      if (!read_changing(*h)) continue;  // gone
      keep = h->port_state == old->port_state;
    }
    if (!keep) h = read_host(*n);
    if (!h) continue;
    v->infos.emplace(*n, keep ? known->infos.at(*n) : read_host_info(*n));
    v->hosts.emplace(*n, std::move(*h));
  }
  // The adapters' layout follows from the hosts present.
  auto numbers = [](const View& x) {
    std::vector<unsigned> out;
    for (const auto& [n, h] : x.hosts) out.push_back(n);
    return out;
  };
  if (known && numbers(*known) == numbers(*v)) {
    v->adapters = known->adapters;
    v->not_listed = known->not_listed;
  } else {
    read_adapters(*v);
  }
  read_remote_ports(*v, known);
  return v;
}

std::shared_ptr<const View> Model::view() const {
  auto fresh = [&](const std::shared_ptr<const View>& v) {
    return v && v->generation == generation_.load() && clock_() - v->when < kViewMaxAge;
  };
  {
    std::unique_lock lock(view_lock_);
    if (watched_ && view_) {
      looked_.wait_for(lock, kChangeWait,
                       [&] { return !watched_ || view_->generation == generation_.load(); });
      if (watched_) return view_;
    }
    if (fresh(view_)) return view_;
  }
  std::lock_guard one(look_lock_);
  {
    std::lock_guard lock(view_lock_);
    if (fresh(view_)) return view_;  // another caller looked meanwhile
  }
  auto v = look(nullptr);
  std::lock_guard lock(view_lock_);
  return view_ = std::move(v);
}

void Model::invalidate() const {
  std::lock_guard lock(view_lock_);
  ++generation_;
}

void Model::refresh(bool everything) const {
  std::lock_guard one(look_lock_);
  std::shared_ptr<const View> known;
  if (!everything) {
    std::lock_guard lock(view_lock_);
    known = view_;
  }
  auto v = look(known.get());
  std::lock_guard lock(view_lock_);
  view_ = std::move(v);
  looked_.notify_all();
}

void Model::watched(bool on) const {
  std::lock_guard lock(view_lock_);
  watched_ = on;
  looked_.notify_all();
}

std::vector<Adapter> Model::adapters(std::size_t* not_listed) const {
  auto v = view();
  if (not_listed) *not_listed = v->not_listed;
  return v->adapters;
}

std::optional<FcHost> Model::host(unsigned number) const {
  auto v = view();
  auto it = v->hosts.find(number);
  return it == v->hosts.end() ? std::nullopt : std::optional<FcHost>(it->second);
}

std::pair<std::optional<Wwn>, std::optional<Wwn>> Model::names(unsigned number) const {
  auto h = host(number);
  if (!h) return {};
  return {h->port_name, h->node_name};
}

HostInfo Model::host_info(unsigned number) const {
  auto v = view();
  auto it = v->infos.find(number);
  return it == v->infos.end() ? HostInfo{} : it->second;
}

std::vector<RemotePort> Model::remote_ports(unsigned host) const {
  auto v = view();
  auto it = v->remote_ports.find(host);
  return it == v->remote_ports.end() ? std::vector<RemotePort>{} : it->second;
}

std::optional<FcHost> Model::read_host(unsigned number) const {
  FcHost h;
  h.number = number;
  if (!read_changing(h)) return std::nullopt;
  auto get = [&](const char* file) { return read(host_dir(number) + "/" + file); };
  h.port_name = parsed(parse_wwn, get("port_name"));
  h.node_name = parsed(parse_wwn, get("node_name"));
  h.permanent_port_name = parsed(parse_wwn, get("permanent_port_name"));
  h.supported_speeds = parsed(parse_speed_bits, get("supported_speeds"));
  h.supported_fc4s = parsed(parse_fc4s, get("supported_fc4s"));
  h.active_fc4s = parsed(parse_fc4s, get("active_fc4s"));
  h.supported_classes = parsed(parse_classes, get("supported_classes"));
  h.maxframe_size = parsed(parse_decimal, get("maxframe_size"));
  h.symbolic_name = get("symbolic_name");
  if (h.symbolic_name && h.symbolic_name->empty()) h.symbolic_name.reset();
  return h;
}

// What a host tells that changes while it is there; false when it is gone.
bool Model::read_changing(FcHost& h) const {
  std::string dir = host_dir(h.number);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return false;
  auto get = [&](const char* file) { return read(dir + "/" + file); };
  h.port_state = parsed(parse_port_state, get("port_state"));
  h.port_type = parsed(parse_port_type, get("port_type"));
  h.fabric_name = parsed(parse_wwn, get("fabric_name"));
  h.port_id = parsed(parse_port_id, get("port_id"));
  auto speed = get("speed");
  h.speed_gbit = parsed(parse_speed, speed);
  h.speed_bits = parsed(parse_speed_bits, speed);
  return true;
}

HostInfo Model::read_host_info(unsigned number) const {
  HostInfo info;
  std::string n = "/host" + std::to_string(number) + "/";
  for (const InfoRow* r = kInfoRows; r->folder; ++r) {
    auto& field = info.*(r->field);
    if (field) continue;
    auto text = read(root_ + "/class/" + r->folder + n + r->file);
    if (text && !text->empty()) field = std::move(text);
  }
  return info;
}

void Model::read_adapters(View& v) const {
  struct Found {
    std::string pci;
    unsigned function, host;
    std::optional<Wwn> node;  // groups the hosts without a PCI device
  };
  std::vector<Found> found;
  std::error_code ec;
  fs::path top = fs::weakly_canonical(root_, ec);
  for (const auto& name : entries(root_ + "/class/fc_host")) {
    auto n = numbered(name, "host");
    if (!n) continue;
    Found f{"", 0, *n, std::nullopt};
    fs::path dev = fs::canonical(root_ + "/class/scsi_host/" + name + "/device", ec);
    if (ec) dev = fs::canonical(host_dir(*n) + "/device", ec);
    for (; !ec && dev != top && dev.has_relative_path(); dev = dev.parent_path()) {
      if (auto pci = pci_function(dev.filename().string())) {
        f.pci = pci->device;
        f.function = pci->function;
        break;
      }
    }
    if (f.pci.empty()) {
      auto h = v.hosts.find(*n);
      if (h != v.hosts.end()) f.node = h->second.node_name;
    }
    found.push_back(f);
  }
  // PCI devices first (empty names sort last), by address, function, host.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return std::tuple(a.pci.empty(), a.pci, a.function, a.host) <
           std::tuple(b.pci.empty(), b.pci, b.function, b.host);
  });
  auto same = [](const Adapter& a, const std::optional<Wwn>& node, const Found& f) {
    return f.pci.empty() ? a.pci.empty() && f.node && node == f.node : a.pci == f.pci;
  };
  std::vector<Adapter>& out = v.adapters;
  std::vector<std::optional<Wwn>> nodes;  // of out's first hosts
  std::size_t skipped = 0;
  for (const Found& f : found) {
    std::size_t i = 0;
    while (i < out.size() && !same(out[i], nodes[i], f)) ++i;
    if (i < out.size()) {
      out[i].hosts.push_back(f.host);
      continue;
    }
    if (out.size() == kMaxAdapters) {
      ++skipped;
      continue;
    }
    Adapter a;
    a.pci = f.pci;
    a.name = f.pci.empty() ? "host" + std::to_string(f.host)
                           : "pci" + f.pci.substr(0, 7) + "/dev" + f.pci.substr(8, 2);
    a.hosts.push_back(f.host);
    out.push_back(std::move(a));
    nodes.push_back(f.node);
  }
  v.not_listed = skipped;
}

void Model::read_remote_ports(View& v, const View* known) const {
  std::string cls = root_ + "/class/fc_remote_ports/";
  for (const auto& name : entries(cls)) {
    RemotePort r;
    int end = 0;
    if (std::sscanf(name.c_str(), "rport-%u:%u-%u%n", &r.host, &r.channel, &r.number, &end) != 3 ||
        static_cast<std::size_t>(end) != name.size())
      continue;
    std::string dir = cls + name + "/";
    auto get = [&](const char* file) { return read(dir + file); };
    r.name = name;
    r.node_name = parsed(parse_wwn, get("node_name"));
    r.port_name = parsed(parse_wwn, get("port_name"));
    r.port_id = parsed(parse_port_id, get("port_id"));
    r.roles = parsed(parse_roles, get("roles"));
    r.port_state = parsed(parse_port_state, get("port_state"));
    r.scsi_target_id = parsed(parse_decimal, get("scsi_target_id"));
    r.supported_classes = parsed(parse_classes, get("supported_classes"));
    std::error_code ec;
    r.devices_known = fs::is_directory(dir + "device", ec) && !ec;
    const std::vector<ScsiDevice>* old = nullptr;
    if (known && known->remote_ports.count(r.host)) {
      for (const RemotePort& p : known->remote_ports.at(r.host))
        if (p.name == name) old = &p.devices;
    }
    if (r.devices_known) r.devices = scsi_devices(dir + "device", old);
    v.remote_ports[r.host].push_back(std::move(r));
  }
  for (auto& [host, ports] : v.remote_ports)
    std::sort(ports.begin(), ports.end(), [](const RemotePort& a, const RemotePort& b) {
      return std::tie(a.channel, a.number) < std::tie(b.channel, b.number);
    });
}

// known: the devices of the last look, whose inquiry data is kept.
std::vector<ScsiDevice> Model::scsi_devices(const std::string& rport_dir,
                                            const std::vector<ScsiDevice>* known) const {
  std::vector<ScsiDevice> out;
  for (const auto& target : entries(rport_dir)) {
    if (!target.starts_with("target")) continue;
    for (const auto& name : entries(rport_dir + "/" + target)) {
      ScsiDevice d;
      unsigned long long lun = 0;
      int end = 0;
      if (std::sscanf(name.c_str(), "%u:%u:%u:%llu%n", &d.host, &d.channel, &d.target, &lun,
                      &end) != 4 ||
          static_cast<std::size_t>(end) != name.size())
        continue;
      d.lun = lun;
      std::string dir = rport_dir + "/" + target + "/" + name + "/";
      auto same = [&](const ScsiDevice& k) {
        return std::tie(k.host, k.channel, k.target, k.lun) ==
               std::tie(d.host, d.channel, d.target, d.lun);
      };
      const ScsiDevice* k = nullptr;
      if (known)
        for (const ScsiDevice& e : *known)
          if (same(e)) k = &e;
      if (k) {
        d = *k;
      } else {
        d.vendor = read(dir + "vendor");
        d.model = read(dir + "model");
        d.rev = read(dir + "rev");
        auto type = read(dir + "type");
        d.type = type ? parse_decimal(*type) : std::nullopt;
      }
      auto block = entries(dir + "block");
      auto generic = entries(dir + "scsi_generic");
      d.block = block.empty() ? "" : block.front();
      d.generic = generic.empty() ? "" : generic.front();
      out.push_back(std::move(d));
    }
  }
  std::sort(out.begin(), out.end(), [](const ScsiDevice& a, const ScsiDevice& b) {
    return std::tie(a.channel, a.target, a.lun) < std::tie(b.channel, b.target, b.lun);
  });
  return out;
}

std::optional<std::uint64_t> Model::statistic(unsigned host, Stat s,
                                              std::chrono::milliseconds wait) {
  const auto now = clock_();
  const Key key(host, s);
  Shared& sh = *shared_;
  std::unique_lock lock(sh.lock);
  Cached& c = sh.stats[key];
  if (c.value_read && now - c.when < kStatsMaxAge) return c.value;
  // Asked for once a second, beside a read still stuck, while within bounds.
  if ((c.reads == 0 || now - c.asked >= kStatsMaxAge) && c.reads < kMaxReadsPerFile) {
    c.asked = now;
    ++c.reads;
    ++sh.reading;
    ++sh.stat_reads;
    sh.queue.push_back(Job{key, ++c.last_read, host_dir(host) + "/statistics/" + stat_file(s)});
    if (sh.readers - sh.busy < static_cast<int>(sh.queue.size()) && sh.readers < kMaxReaders) {
      ++sh.readers;
      try {
        std::thread(serve, shared_).detach();
      } catch (const std::system_error&) {
        --sh.readers;  // the read waits for a reader thread that is there
      }
    }
  }
  const std::uint64_t newest = c.last_read;
  auto ended = [&] { return c.value_read >= newest || c.reads == 0; };
  if (wait < std::chrono::milliseconds::zero()) {
    sh.done.wait(lock, ended);
  } else {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c.asked + kStatsWait - now);
    if (left > std::chrono::milliseconds::zero())
      sh.done.wait_for(lock, std::min(wait, left), ended);
  }
  if (c.value_read >= newest) return c.value;
  if (c.value_read && now - c.when < kStatsOldest) return c.value;
  return std::nullopt;
}

std::vector<std::optional<std::uint64_t>> Model::statistics(unsigned host,
                                                            const std::vector<Stat>& which,
                                                            std::chrono::milliseconds wait) {
  for (Stat s : which) statistic(host, s, std::chrono::milliseconds::zero());
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::vector<std::optional<std::uint64_t>> out;
  for (Stat s : which) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    out.push_back(statistic(host, s, std::max(left, std::chrono::milliseconds::zero())));
  }
  return out;
}

// A reader thread: reads what is asked for, and ends when nothing is.
void Model::serve(std::shared_ptr<Shared> sh) {
  std::unique_lock lock(sh->lock);
  while (!sh->queue.empty()) {
    Job job = std::move(sh->queue.front());
    sh->queue.pop_front();
    ++sh->busy;
    lock.unlock();
    auto text = read_file(job.path, sh->file_reads);
    const auto ended = sh->clock();  // the driver gives the value as the read ends
    lock.lock();
    --sh->busy;
    --sh->reading;
    Cached& c = sh->stats[job.key];
    --c.reads;
    // A read that ends after a later one keeps the later one's value.
    if (job.number > c.value_read && job.number >= c.first_valid) {
      c.value = text ? parse_counter(*text) : std::nullopt;
      c.value_read = job.number;
      c.when = ended;
    }
    sh->done.notify_all();
  }
  --sh->readers;
}

bool Model::reset_statistics(unsigned host) {
  if (!write(host_dir(host) + "/statistics/reset_statistics", "1")) return false;
  std::lock_guard<std::mutex> lock(shared_->lock);
  for (auto& [key, c] : shared_->stats) {
    if (key.first != host) continue;
    c.value_read = 0;  // read again; a read asked for before the reset keeps nothing
    c.first_valid = c.last_read + 1;
  }
  return true;
}

bool Model::issue_lip(unsigned host) {
  return write(host_dir(host) + "/issue_lip", "1");
}

}  // namespace sysfs
