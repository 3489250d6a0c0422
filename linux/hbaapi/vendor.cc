#include "linux/hbaapi/vendor.h"

#include <climits>
#include <cstring>
#include <vector>

namespace linux_hba {
namespace {

// A vendor library's handles are 16 bits wide: the common library keeps the
// upper half for itself.
constexpr HBA_HANDLE kLastHandle = 0xFFFF;
constexpr std::size_t kAdapterNameSize = 256;
// The FC-4 bitmap bit of FCP (type 8).
constexpr std::size_t kFcpByte = 2;
constexpr std::uint8_t kFcpBit = 0x01;

template <std::size_t N>
void put(char (&field)[N], const std::optional<std::string>& text) {
  if (!text) return;
  std::size_t n = text->size() < N - 1 ? text->size() : N - 1;
  std::memcpy(field, text->data(), n);
  field[n] = 0;
}

void put_wwn(HBA_WWN& out, const std::optional<sysfs::Wwn>& wwn) {
  if (!wwn) return;
  for (int i = 0; i < 8; ++i) out.wwn[i] = static_cast<HBA_UINT8>(*wwn >> (56 - 8 * i));
}

sysfs::Wwn wwn_of(const HBA_WWN& w) {
  sysfs::Wwn v = 0;
  for (HBA_UINT8 byte : w.wwn) v = v << 8 | byte;
  return v;
}

struct StateRow {
  sysfs::PortState key;
  HBA_PORTSTATE value;
};
constexpr StateRow kStates[] = {{sysfs::PortState::online, HBA_PORTSTATE_ONLINE},
                                {sysfs::PortState::marginal, HBA_PORTSTATE_ONLINE},
                                {sysfs::PortState::offline, HBA_PORTSTATE_OFFLINE},
                                {sysfs::PortState::bypassed, HBA_PORTSTATE_BYPASSED},
                                {sysfs::PortState::diagnostics, HBA_PORTSTATE_DIAGNOSTICS},
                                {sysfs::PortState::linkdown, HBA_PORTSTATE_LINKDOWN},
                                {sysfs::PortState::error, HBA_PORTSTATE_ERROR},
                                {sysfs::PortState::loopback, HBA_PORTSTATE_LOOPBACK},
                                // A remote port gone after its device loss timeout.
                                {sysfs::PortState::not_present, HBA_PORTSTATE_OFFLINE},
                                {sysfs::PortState::deleted, HBA_PORTSTATE_OFFLINE},
                                {sysfs::PortState::unknown, 0}};

// The row's value for the kernel's word; unknown (and unset) for the others.
template <typename Row, typename Key>
auto mapped(const Row* rows, const std::optional<Key>& key, decltype(Row::value) unknown) {
  for (const Row* r = rows; r->value != 0; ++r)
    if (key == r->key) return r->value;
  return unknown;
}

HBA_PORTSTATE port_state(const std::optional<sysfs::PortState>& s) {
  return mapped(kStates, s, HBA_PORTSTATE_UNKNOWN);
}

struct TypeRow {
  sysfs::PortType key;
  HBA_PORTTYPE value;
};
constexpr TypeRow kTypes[] = {{sysfs::PortType::other, HBA_PORTTYPE_OTHER},
                              {sysfs::PortType::not_present, HBA_PORTTYPE_NOTPRESENT},
                              {sysfs::PortType::nport, HBA_PORTTYPE_NPORT},
                              {sysfs::PortType::npiv, HBA_PORTTYPE_NPORT},
                              {sysfs::PortType::nlport, HBA_PORTTYPE_NLPORT},
                              {sysfs::PortType::lport, HBA_PORTTYPE_LPORT},
                              {sysfs::PortType::ptp, HBA_PORTTYPE_PTP},
                              {sysfs::PortType::unknown, 0}};

HBA_PORTTYPE port_type(const std::optional<sysfs::PortType>& t) {
  return mapped(kTypes, t, HBA_PORTTYPE_UNKNOWN);
}

// The transport's speed bits are the HBA API's, except "not negotiated".
constexpr std::uint32_t kTransportNotNegotiated = 0x8000;
HBA_PORTSPEED port_speed(const std::optional<std::uint32_t>& bits) {
  if (!bits) return HBA_PORTSPEED_UNKNOWN;
  if (*bits == kTransportNotNegotiated) return HBA_PORTSPEED_NOT_NEGOTIATED;
  return *bits & ~kTransportNotNegotiated;
}

void put_fc4s(HBA_FC4TYPES& out, const std::optional<std::array<std::uint8_t, 32>>& bits) {
  if (bits) std::memcpy(out.bits, bits->data(), sizeof out.bits);
}

void fill_port(const sysfs::FcHost& h, std::size_t discovered, HBA_PORTATTRIBUTES& p) {
  p = HBA_PORTATTRIBUTES{};
  put_wwn(p.NodeWWN, h.node_name);
  put_wwn(p.PortWWN, h.port_name);
  p.PortFcId = h.port_id.value_or(0);
  p.PortType = port_type(h.port_type);
  p.PortState = port_state(h.port_state);
  p.PortSupportedClassofService = h.supported_classes.value_or(0);
  put_fc4s(p.PortSupportedFc4Types, h.supported_fc4s);
  put_fc4s(p.PortActiveFc4Types, h.active_fc4s);
  put(p.PortSymbolicName, h.symbolic_name);
  put(p.OSDeviceName, "/sys/class/fc_host/host" + std::to_string(h.number));
  p.PortSupportedSpeed = port_speed(h.supported_speeds);
  p.PortSpeed = port_speed(h.speed_bits);
  p.PortMaxFrameSize = h.maxframe_size.value_or(0);
  put_wwn(p.FabricName, h.fabric_name);
  p.NumberofDiscoveredPorts = static_cast<HBA_UINT32>(discovered);
}

// A remote port: what the transport tells of it; FCP as its FC-4 type when
// it plays an FCP role.
void fill_remote(const sysfs::RemotePort& r, HBA_PORTATTRIBUTES& p) {
  p = HBA_PORTATTRIBUTES{};
  put_wwn(p.NodeWWN, r.node_name);
  put_wwn(p.PortWWN, r.port_name);
  p.PortFcId = r.port_id.value_or(0);
  p.PortType = HBA_PORTTYPE_UNKNOWN;
  p.PortState = port_state(r.port_state);
  p.PortSupportedClassofService = r.supported_classes.value_or(0);
  if (r.roles.value_or(0) & (sysfs::kRoleFcpTarget | sysfs::kRoleFcpInitiator)) {
    p.PortSupportedFc4Types.bits[kFcpByte] = kFcpBit;
    p.PortActiveFc4Types.bits[kFcpByte] = kFcpBit;
  }
}

// The 8-byte FCP LUN of a Linux LUN number: 16-bit levels, first level first.
HBA_UINT64 fcp_lun(std::uint64_t lun) {
  std::uint8_t bytes[8];
  for (int i = 0; i < 8; i += 2, lun >>= 16) {
    bytes[i] = static_cast<std::uint8_t>(lun >> 8);
    bytes[i + 1] = static_cast<std::uint8_t>(lun);
  }
  HBA_UINT64 out = 0;
  std::memcpy(&out, bytes, sizeof out);
  return out;
}

// One SCSI device behind a remote port, as an entry of the target mapping.
bool fill_entry(const sysfs::RemotePort& r, const sysfs::ScsiDevice& d, HBA_SCSIID& scsi,
                HBA_FCPID& fcp) {
  if (d.lun > UINT_MAX) return false;
  std::string dev = !d.block.empty()     ? "/dev/" + d.block
                    : !d.generic.empty() ? "/dev/" + d.generic
                                         : "";
  put(scsi.OSDeviceName, dev);
  scsi.ScsiBusNumber = d.channel;
  scsi.ScsiTargetNumber = d.target;
  scsi.ScsiOSLun = static_cast<HBA_UINT32>(d.lun);
  fcp.FcId = r.port_id.value_or(0);
  put_wwn(fcp.NodeWWN, r.node_name);
  put_wwn(fcp.PortWWN, r.port_name);
  fcp.FcpLun = fcp_lun(d.lun);
  return true;
}

// The statistics in the order of HBA_PORTSTATISTICS.
constexpr HBA_INT64 HBA_PORTSTATISTICS::*kCounters[] = {
    &HBA_PORTSTATISTICS::SecondsSinceLastReset,
    &HBA_PORTSTATISTICS::TxFrames,
    &HBA_PORTSTATISTICS::TxWords,
    &HBA_PORTSTATISTICS::RxFrames,
    &HBA_PORTSTATISTICS::RxWords,
    &HBA_PORTSTATISTICS::LIPCount,
    &HBA_PORTSTATISTICS::NOSCount,
    &HBA_PORTSTATISTICS::ErrorFrames,
    &HBA_PORTSTATISTICS::DumpedFrames,
    &HBA_PORTSTATISTICS::LinkFailureCount,
    &HBA_PORTSTATISTICS::LossOfSyncCount,
    &HBA_PORTSTATISTICS::LossOfSignalCount,
    &HBA_PORTSTATISTICS::PrimitiveSeqProtocolErrCount,
    &HBA_PORTSTATISTICS::InvalidTxWordCount,
    &HBA_PORTSTATISTICS::InvalidCRCCount,
};

}  // namespace

std::optional<sysfs::Adapter> Vendor::adapter(HBA_HANDLE handle, HBA_STATUS& status) const {
  auto it = handles_.find(handle);
  status = HBA_STATUS_ERROR_INVALID_HANDLE;
  if (it == handles_.end()) return std::nullopt;
  for (auto& a : model_.adapters())
    if (a.name == it->second) return a;
  status = HBA_STATUS_ERROR_UNAVAILABLE;
  return std::nullopt;
}

std::optional<sysfs::FcHost> Vendor::port(HBA_HANDLE handle, HBA_UINT32 index,
                                          HBA_STATUS& status) const {
  auto a = adapter(handle, status);
  if (!a) return std::nullopt;
  status = HBA_STATUS_ERROR_ILLEGAL_INDEX;
  if (index >= a->hosts.size()) return std::nullopt;
  status = HBA_STATUS_ERROR_UNAVAILABLE;
  return model_.host(a->hosts[index]);
}

HBA_STATUS Vendor::free_library() {
  std::lock_guard lock(mutex_);
  handles_.clear();
  return HBA_STATUS_OK;
}

HBA_UINT32 Vendor::adapter_count() {
  std::lock_guard lock(mutex_);
  return static_cast<HBA_UINT32>(model_.adapters().size());
}

HBA_STATUS Vendor::adapter_name(HBA_UINT32 index, char* name) {
  std::lock_guard lock(mutex_);
  if (name == nullptr) return HBA_STATUS_ERROR_ARG;
  auto all = model_.adapters();
  if (index >= all.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
  if (all[index].name.size() >= kAdapterNameSize) return HBA_STATUS_ERROR_MORE_DATA;
  std::memcpy(name, all[index].name.c_str(), all[index].name.size() + 1);
  return HBA_STATUS_OK;
}

HBA_HANDLE Vendor::new_handle(const std::string& name) {
  for (HBA_HANDLE tries = 0; tries < kLastHandle; ++tries) {
    last_handle_ = last_handle_ >= kLastHandle ? 1 : last_handle_ + 1;
    if (handles_.emplace(last_handle_, name).second) return last_handle_;
  }
  return HBA_HANDLE_INVALID;
}

HBA_HANDLE Vendor::open(const char* name) {
  std::lock_guard lock(mutex_);
  if (name == nullptr) return HBA_HANDLE_INVALID;
  for (auto& a : model_.adapters())
    if (a.name == name) return new_handle(a.name);
  return HBA_HANDLE_INVALID;
}

HBA_STATUS Vendor::open_by_wwn(HBA_HANDLE* handle, HBA_WWN wwn) {
  std::lock_guard lock(mutex_);
  if (handle == nullptr) return HBA_STATUS_ERROR_ARG;
  sysfs::Wwn want = wwn_of(wwn);
  for (auto& a : model_.adapters()) {
    for (unsigned n : a.hosts) {
      auto h = model_.host(n);
      if (!h || (h->node_name != want && h->port_name != want)) continue;
      *handle = new_handle(a.name);
      return *handle == HBA_HANDLE_INVALID ? HBA_STATUS_ERROR : HBA_STATUS_OK;
    }
  }
  return HBA_STATUS_ERROR_ILLEGAL_WWN;
}

void Vendor::close(HBA_HANDLE handle) {
  std::lock_guard lock(mutex_);
  handles_.erase(handle);
}

HBA_STATUS Vendor::adapter_attributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* out) {
  std::lock_guard lock(mutex_);
  HBA_STATUS status;
  auto a = adapter(handle, status);
  if (!a) return status;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  *out = HBA_ADAPTERATTRIBUTES{};
  sysfs::HostInfo info = model_.host_info(a->hosts.front());
  put(out->Manufacturer, info.manufacturer);
  put(out->SerialNumber, info.serial_number);
  put(out->Model, info.model);
  put(out->ModelDescription, info.description);
  if (auto h = model_.host(a->hosts.front())) {
    put_wwn(out->NodeWWN, h->node_name);
    put(out->NodeSymbolicName, h->symbolic_name);
  }
  put(out->HardwareVersion, info.hardware_version);
  put(out->DriverVersion, info.driver_version);
  put(out->OptionROMVersion, info.option_rom);
  put(out->FirmwareVersion, info.firmware_version);
  out->NumberOfPorts = static_cast<HBA_UINT32>(a->hosts.size());
  put(out->DriverName, info.driver);
  return HBA_STATUS_OK;
}

HBA_STATUS Vendor::port_attributes(HBA_HANDLE handle, HBA_UINT32 index, HBA_PORTATTRIBUTES* out) {
  std::lock_guard lock(mutex_);
  HBA_STATUS status;
  auto h = port(handle, index, status);
  if (!h) return status;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  fill_port(*h, model_.remote_ports(h->number).size(), *out);
  return HBA_STATUS_OK;
}

HBA_STATUS Vendor::port_statistics(HBA_HANDLE handle, HBA_UINT32 index, HBA_PORTSTATISTICS* out) {
  std::lock_guard lock(mutex_);
  HBA_STATUS status;
  auto h = port(handle, index, status);
  if (!h) return status;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  // A counter the adapter does not keep (or one past the signed range) is all ones.
  // A file stuck in its driver reads as not available after a short wait.
  std::vector<sysfs::Stat> which;
  for (std::size_t s = 0; s < std::size(kCounters); ++s) which.push_back(sysfs::Stat(s));
  auto values = model_.statistics(h->number, which);
  for (std::size_t s = 0; s < std::size(kCounters); ++s) {
    const auto& v = values[s];
    out->*kCounters[s] = v && *v <= LLONG_MAX ? static_cast<HBA_INT64>(*v) : -1;
  }
  return HBA_STATUS_OK;
}

HBA_STATUS Vendor::discovered_port(HBA_HANDLE handle, HBA_UINT32 index, HBA_UINT32 remote,
                                   HBA_PORTATTRIBUTES* out) {
  std::lock_guard lock(mutex_);
  HBA_STATUS status;
  auto h = port(handle, index, status);
  if (!h) return status;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  auto remotes = model_.remote_ports(h->number);
  if (remote >= remotes.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
  fill_remote(remotes[remote], *out);
  return HBA_STATUS_OK;
}

HBA_STATUS Vendor::port_by_wwn(HBA_HANDLE handle, HBA_WWN wwn, HBA_PORTATTRIBUTES* out) {
  std::lock_guard lock(mutex_);
  HBA_STATUS status;
  auto a = adapter(handle, status);
  if (!a) return status;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  sysfs::Wwn want = wwn_of(wwn);
  for (unsigned n : a->hosts) {
    auto h = model_.host(n);
    auto remotes = model_.remote_ports(n);
    if (h && h->port_name == want) {
      fill_port(*h, remotes.size(), *out);
      return HBA_STATUS_OK;
    }
    for (const auto& r : remotes) {
      if (r.port_name != want) continue;
      fill_remote(r, *out);
      return HBA_STATUS_OK;
    }
  }
  return HBA_STATUS_ERROR_ILLEGAL_WWN;
}

void Vendor::reset_statistics(HBA_HANDLE handle, HBA_UINT32 index) {
  std::lock_guard lock(mutex_);
  HBA_STATUS status;
  if (auto h = port(handle, index, status)) model_.reset_statistics(h->number);
}

// The SCSI devices behind the remote ports of every port of the adapter (or
// of the one port named). The caller's NumberOfEntries is the room its buffer
// has; with too little it learns the number needed.
template <typename Mapping>
HBA_STATUS Vendor::mapping(HBA_HANDLE handle, const HBA_WWN* port_wwn, Mapping* out) {
  std::lock_guard lock(mutex_);
  HBA_STATUS status;
  auto a = adapter(handle, status);
  if (!a) return status;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  std::vector<std::pair<sysfs::RemotePort, sysfs::ScsiDevice>> all;
  bool port_found = port_wwn == nullptr;
  for (unsigned n : a->hosts) {
    if (port_wwn != nullptr) {
      auto h = model_.host(n);
      if (!h || h->port_name != wwn_of(*port_wwn)) continue;
      port_found = true;
    }
    for (const auto& r : model_.remote_ports(n))
      for (const auto& d : r.devices) all.emplace_back(r, d);
  }
  if (!port_found) return HBA_STATUS_ERROR_ILLEGAL_WWN;
  const HBA_UINT32 room = out->NumberOfEntries;
  out->NumberOfEntries = static_cast<HBA_UINT32>(all.size());
  if (all.size() > room) return HBA_STATUS_ERROR_MORE_DATA;
  for (std::size_t i = 0; i < all.size(); ++i) {
    out->entry[i] = {};
    if (!fill_entry(all[i].first, all[i].second, out->entry[i].ScsiId, out->entry[i].FcpId))
      return HBA_STATUS_ERROR;  // a LUN beyond 32 bits has no OS LUN here
  }
  return HBA_STATUS_OK;
}

HBA_STATUS Vendor::target_mapping(HBA_HANDLE handle, HBA_FCPTARGETMAPPING* out) {
  return mapping(handle, nullptr, out);
}

HBA_STATUS Vendor::target_mapping_v2(HBA_HANDLE handle, HBA_WWN port, HBA_FCPTARGETMAPPINGV2* out) {
  return mapping(handle, &port, out);
}

}  // namespace linux_hba
