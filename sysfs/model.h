// The Linux kernel's Fibre Channel transport as it shows in sysfs: the FC
// hosts (class/fc_host), their driver attributes (class/scsi_host), the remote
// ports (class/fc_remote_ports) with the SCSI devices below them, and the
// hosts' statistics.
//
// The hosts, their attributes and remote ports are answered from one view,
// an immutable value built by one pass over the files. On its own the model
// keeps a view until it is a second old or invalidate() says something
// changed, and the next call after either builds a new one; a watcher can
// instead keep it fresh, and then calls answer the latest view at once.
// Statistics are kept apart, for at most a second per file, because on a real
// card each read of one costs a firmware command; they are read on a few
// reader threads of the model's own, so that a read stuck in its driver holds
// no caller and no other file.
//
// A field the kernel does not tell (a missing attribute, a file that fails on
// read, the all-ones "never set" or "not available" value) stays empty.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
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
  // Statistics are read by at most this many reader threads at once, and one
  // file by at most kMaxReadsPerFile of them (a read stuck in its driver and
  // the one that tries the file again a second later). Reads beyond wait
  // their turn.
  static constexpr int kMaxReaders = 8;
  static constexpr int kMaxReadsPerFile = 2;
  // The longest a request should wait for statistics reads, in total.
  static constexpr std::chrono::milliseconds kStatsWait{250};
  // A counter whose newest read has not ended is answered from the read
  // before it only while that is younger than this (the second it is kept,
  // and one more for the read that follows); then it is not available.
  static constexpr std::chrono::milliseconds kStatsOldest{2000};
  // How long a request waits for the look that follows invalidate() on a
  // model a watcher keeps fresh.
  static constexpr std::chrono::milliseconds kChangeWait{1000};

  explicit Model(std::string root, Clock clock = std::chrono::steady_clock::now);
  ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  const std::string& root() const { return root_; }
  // The current view. On its own the model looks again when the last view
  // is a second old or was invalidated; while a watcher keeps it fresh
  // (watched(true)) it answers the watcher's latest view and never looks
  // itself. Never null.
  std::shared_ptr<const View> view() const;
  // Something changed (a uevent, a netlink event): the next call looks again,
  // or, while watched, waits up to kChangeWait for the watcher's next look.
  void invalidate() const;
  // A new view now (the watcher's look). It reads what can change; the
  // attributes that do not (names, the driver's own attributes, the
  // adapters' layout, a SCSI device's inquiry data) are read for a host or
  // device that was not in the last view, for a host whose port_state
  // changed, and for all when everything is true.
  void refresh(bool everything = false) const;
  // A watcher keeps the view fresh from now on (true), or no more (false).
  void watched(bool on) const;
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
  // One counter. A value read less than kStatsMaxAge ago is answered as it
  // is; else the file is read again on a reader thread, at most once per
  // kStatsMaxAge, and the call waits for that read up to wait (a read that
  // began more than kStatsWait ago is not waited for). Without the new value
  // it answers the last one while younger than kStatsOldest, else empty.
  std::optional<std::uint64_t> statistic(unsigned host, Stat s,
                                         std::chrono::milliseconds wait = kNoLimit);
  static constexpr std::chrono::milliseconds kNoLimit{-1};
  // Several counters of one host: their reads are asked for together, and
  // waited for up to wait in total.
  std::vector<std::optional<std::uint64_t>> statistics(unsigned host,
                                                       const std::vector<Stat>& which,
                                                       std::chrono::milliseconds wait = kStatsWait);
  // Write-only transport controls; false when the file is missing or refuses.
  bool reset_statistics(unsigned host);
  bool issue_lip(unsigned host);

  // Attribute files read so far, and statistics reads asked for.
  std::uint64_t file_reads() const { return shared_->file_reads.load(); }
  std::uint64_t stat_reads() const { return shared_->stat_reads.load(); }
  // Statistics reads asked for and not yet ended.
  int reads_going_on() const {
    std::lock_guard lock(shared_->lock);
    return shared_->reading;
  }

 private:
  struct Shared;
  std::optional<std::string> read(const std::string& path) const;
  bool write(const std::string& path, std::string_view text) const;
  std::string host_dir(unsigned number) const;
  std::shared_ptr<const View> look(const View* known) const;
  std::optional<FcHost> read_host(unsigned number) const;
  bool read_changing(FcHost& h) const;
  HostInfo read_host_info(unsigned number) const;
  void read_adapters(View& v) const;
  void read_remote_ports(View& v, const View* known) const;
  std::vector<ScsiDevice> scsi_devices(const std::string& rport_dir,
                                       const std::vector<ScsiDevice>* known) const;
  static void serve(std::shared_ptr<Shared> sh);

  using Key = std::pair<unsigned, Stat>;
  struct Cached {
    std::chrono::steady_clock::time_point when;  // the read that gave value ended
    std::optional<std::uint64_t> value;
    std::uint64_t value_read = 0;   // the number of the read that gave value; 0 none
    std::uint64_t last_read = 0;    // the number of the last read asked for
    std::uint64_t first_valid = 1;  // reads numbered below were asked for before a reset
    std::chrono::steady_clock::time_point asked;  // ... and when
    int reads = 0;                                // asked for and not yet ended
  };
  struct Job {
    Key key;
    std::uint64_t number;
    std::string path;
  };
  // Shared with the reader threads, which a read stuck in its driver keeps
  // after the model is gone.
  struct Shared {
    Clock clock;  // called on the reader threads too
    std::atomic<std::uint64_t> file_reads{0};
    std::atomic<std::uint64_t> stat_reads{0};
    std::mutex lock;
    std::condition_variable done;
    std::map<Key, Cached> stats;
    std::deque<Job> queue;  // asked for, not yet begun
    int readers = 0;        // reader threads
    int busy = 0;           // ... of them in a read
    int reading = 0;        // reads asked for and not yet ended
  };
  std::string root_;
  Clock clock_;
  std::shared_ptr<Shared> shared_;
  mutable std::atomic<std::uint64_t> generation_{0};
  mutable std::mutex view_lock_;  // held only to copy or swap view_, or wait for a look
  mutable std::condition_variable looked_;
  mutable std::shared_ptr<const View> view_;
  mutable bool watched_ = false;
  mutable std::mutex look_lock_;  // one look at a time
};

}  // namespace sysfs
