// The Linux kernel's Fibre Channel transport as it shows in sysfs: the FC
// hosts (class/fc_host), their driver attributes (class/scsi_host), the remote
// ports (class/fc_remote_ports) with the SCSI devices below them, and the
// hosts' statistics.
//
// The hosts, their attributes and remote ports are answered from one view,
// an immutable value built by one pass over the files and kept until it is a
// second old or invalidate() says something changed; the next call after
// either builds a new one. Statistics are kept apart, for at most a second per
// file, because on a real card each read of one costs a firmware command.
//
// A field the kernel does not tell (a missing attribute, a file that fails on
// read, the all-ones "never set" or "not available" value) stays empty.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sysfs {

using Wwn = std::uint64_t;

// The programs keep at most this many adapters; further ones are not listed.
inline constexpr std::size_t kMaxAdapters = 8;
// The longest attribute file read: one page of the largest page size.
inline constexpr std::size_t kMaxAttributeSize = 64 * 1024;

// port_state of hosts and remote ports, in the kernel's order.
enum class PortState {
  unknown,
  not_present,
  online,
  offline,
  blocked,
  bypassed,
  diagnostics,
  linkdown,
  error,
  loopback,
  deleted,
  marginal
};
// port_type of hosts, in the kernel's order.
enum class PortType { unknown, other, not_present, nport, nlport, lport, ptp, npiv };

// Bits of a remote port's roles.
inline constexpr std::uint32_t kRoleFcpTarget = 1;
inline constexpr std::uint32_t kRoleFcpInitiator = 2;
inline constexpr std::uint32_t kRoleIpPort = 4;
inline constexpr std::uint32_t kRoleFabric = 0x100;  // a well-known fabric address

struct FcHost {
  unsigned number = 0;  // N of hostN
  std::optional<Wwn> port_name, node_name, permanent_port_name, fabric_name;
  std::optional<std::uint32_t> port_id;
  std::optional<PortState> port_state;
  std::optional<PortType> port_type;
  std::optional<std::uint32_t> speed_gbit;  // 0 = "Not Negotiated"
  // Speeds as the transport's bits (those of the SNIA HBA API): 1 1 Gbit,
  // 2 2 Gbit, 4 10 Gbit, 8 4 Gbit, 0x10 8 Gbit, ..., 0x8000 not negotiated.
  std::optional<std::uint32_t> speed_bits, supported_speeds;
  // FC-4 type bitmaps, 32 bytes as the fabric's name server keeps them.
  std::optional<std::array<std::uint8_t, 32>> supported_fc4s, active_fc4s;
  std::optional<std::uint32_t> supported_classes;  // bit n = class n; 0 = "unspecified"
  std::optional<std::string> symbolic_name;
  std::optional<std::uint32_t> maxframe_size;
};

// What the driver tells about itself: fc_host attributes where the driver
// fills them, else the scsi_host attribute under one of the spellings of the
// FC drivers.
struct HostInfo {
  std::optional<std::string> driver;  // scsi_host proc_name
  std::optional<std::string> manufacturer, model, description, serial_number;
  std::optional<std::string> firmware_version, driver_version, hardware_version;
  std::optional<std::string> option_rom;
};

// One SCSI device H:C:T:L below a remote port's target.
struct ScsiDevice {
  unsigned host = 0, channel = 0, target = 0;
  std::uint64_t lun = 0;
  std::optional<std::string> vendor, model, rev;  // as the kernel shows them, blanks kept
  std::optional<std::uint32_t> type;              // SCSI peripheral type
  std::string block;                              // "sdb", or empty
  std::string generic;                            // "sg2", or empty
};

struct RemotePort {
  std::string name;  // rport-H:C-N
  unsigned host = 0, channel = 0, number = 0;
  std::optional<Wwn> node_name, port_name;
  std::optional<std::uint32_t> port_id;
  std::optional<std::uint32_t> roles;
  std::optional<PortState> port_state;
  std::optional<std::uint32_t> scsi_target_id;  // empty when -1 (no SCSI target)
  std::optional<std::uint32_t> supported_classes;
  std::vector<ScsiDevice> devices;  // ordered by target, then LUN
  bool devices_known = true;        // false when its device folder cannot be read
};

// The FC hosts of one PCI device (ordered by function; an NPIV virtual port
// below a physical host is a host of the same device), or the hosts without
// a PCI device that share one node name (a channel subsystem's FCP devices,
// the virtual adapters of a virtual I/O bus), ordered by number.
struct Adapter {
  std::string name;  // "pci0000:3b/dev00" or "host7" (its first host): never a '.' or a blank
  std::string pci;   // "0000:3b:00", empty without a PCI device
  std::vector<unsigned> hosts;
};

// Counters of a host's statistics/ folder.
enum class Stat {
  seconds_since_last_reset,
  tx_frames,
  tx_words,
  rx_frames,
  rx_words,
  lip_count,
  nos_count,
  error_frames,
  dumped_frames,
  link_failure_count,
  loss_of_sync_count,
  loss_of_signal_count,
  prim_seq_protocol_err_count,
  invalid_tx_word_count,
  invalid_crc_count,
  fcp_input_requests,
  fcp_output_requests,
  fcp_control_requests,
  fcp_input_megabytes,
  fcp_output_megabytes,
  count_
};
const char* stat_file(Stat s);

// The sysfs root: TAVRO_SYSFS_ROOT when set and not empty, else "/sys".
std::string default_root();

// One look at the transport: what discovery found, kept whole.
struct View {
  std::chrono::steady_clock::time_point when;  // the look began
  std::uint64_t generation = 0;                // of invalidate() calls before it
  std::vector<Adapter> adapters;
  std::size_t not_listed = 0;
  std::map<unsigned, FcHost> hosts;  // every host present, by number
  std::map<unsigned, HostInfo> infos;
  std::map<unsigned, std::vector<RemotePort>> remote_ports;  // by host
};

class Model {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kStatsMaxAge{1000};
  static constexpr std::chrono::milliseconds kViewMaxAge{1000};
  // Statistics reads not yet ended, at most; a file whose read would be one
  // more answers empty without being read.
  static constexpr int kMaxReadsAtOnce = 4;

  explicit Model(std::string root, Clock clock = std::chrono::steady_clock::now);

  const std::string& root() const { return root_; }
  // The current view: a new one when the last is a second old or was
  // invalidated. Never null.
  std::shared_ptr<const View> view() const;
  // Something changed (a uevent, a netlink event): the next call looks again.
  void invalidate() const { ++generation_; }
  // A new view now (the watcher's once-a-second look).
  void refresh() const;
  // Discovery: the adapters now present, PCI devices first in address order,
  // then hosts without one by number; at most kMaxAdapters.
  std::vector<Adapter> adapters(std::size_t* not_listed = nullptr) const;
  // The host's attributes; empty when the host is gone.
  std::optional<FcHost> host(unsigned number) const;
  // Only its port_name and node_name (what finds a port or node).
  std::pair<std::optional<Wwn>, std::optional<Wwn>> names(unsigned number) const;
  HostInfo host_info(unsigned number) const;
  // The remote ports of a host, by number; empty when none or the host is gone.
  std::vector<RemotePort> remote_ports(unsigned host) const;
  // One counter, read at most once per kStatsMaxAge per host and file. A read
  // that takes longer than wait (a driver stuck in its firmware) answers empty
  // and goes on in the background; its value is kept when it ends. Within the
  // second the file is not read again; after it, the next call reads it again
  // beside the stuck read, as long as fewer than kMaxReadsAtOnce are going on.
  std::optional<std::uint64_t> statistic(unsigned host, Stat s,
                                         std::chrono::milliseconds wait = kNoLimit);
  static constexpr std::chrono::milliseconds kNoLimit{-1};
  // Write-only transport controls; false when the file is missing or refuses.
  bool reset_statistics(unsigned host);
  bool issue_lip(unsigned host);

  // Attribute files read so far, and of those the statistics files.
  std::uint64_t file_reads() const { return shared_->file_reads.load(); }
  std::uint64_t stat_reads() const { return shared_->stat_reads.load(); }
  // Statistics reads begun and not yet ended.
  int reads_going_on() const {
    std::lock_guard lock(shared_->lock);
    return shared_->reading;
  }

 private:
  std::optional<std::string> read(const std::string& path) const;
  bool write(const std::string& path, std::string_view text) const;
  std::string host_dir(unsigned number) const;
  std::shared_ptr<const View> look() const;
  std::optional<FcHost> read_host(unsigned number) const;
  HostInfo read_host_info(unsigned number) const;
  void read_adapters(View& v) const;
  void read_remote_ports(View& v) const;
  std::vector<ScsiDevice> scsi_devices(const std::string& rport_dir) const;

  struct Cached {
    std::chrono::steady_clock::time_point when;  // its read began
    std::optional<std::uint64_t> value;
    std::uint64_t value_read = 0;  // the number of the read that gave value; 0 none
    std::uint64_t last_read = 0;   // the number of the last read begun
    std::chrono::steady_clock::time_point started;  // ... and when
    int reading = 0;                                // reads not yet ended
  };
  // Shared with a statistics read that outlives its wait.
  struct Shared {
    std::atomic<std::uint64_t> file_reads{0};
    std::atomic<std::uint64_t> stat_reads{0};
    std::mutex lock;
    std::condition_variable done;
    std::map<std::pair<unsigned, Stat>, Cached> stats;
    int reading = 0;  // over all files
  };
  std::string root_;
  Clock clock_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  mutable std::atomic<std::uint64_t> generation_{0};
  mutable std::mutex view_lock_;  // held only to copy or swap view_
  mutable std::shared_ptr<const View> view_;
  mutable std::mutex look_lock_;  // one look at a time
};

}  // namespace sysfs
