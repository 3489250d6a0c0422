// The simulated HBA API library libhbaapi.so: the functions of the SNIA HBA
// API, with the types and structures of the public hbaapi.h, answering from
// the driver simulator's model (same file, same embedded default).
// clang-format off
#include <time.h>  // hbaapi.h uses struct tm without including it
#include <hbaapi.h>
#include <vendorhbaapi.h>
// clang-format on

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "sim/hbaapi/hbaapi_model.h"
#include "sim/sim_control.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

// A vendor library's handles are 16 bits wide: the common library keeps the
// upper half for itself.
constexpr HBA_HANDLE kLastHandle = 0xFFFF;
constexpr HBA_UINT32 kUnitTypeHba = 0x0A;

struct PortBaseline {
  std::array<std::uint64_t, kCounterCount> counters{};
  std::int64_t reset_ms = 0;
};

class Library {
 public:
  static Library& get() {
    static Library library;
    return library;
  }

  std::int64_t now_ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
  }

  std::mutex mutex;
  bool ready = false;
  Model model;
  HbaFaults faults;
  bool loaded = false;
  std::map<HBA_HANDLE, std::size_t> handles;
  HBA_HANDLE last_handle = 0;
  std::map<std::pair<std::size_t, std::size_t>, PortBaseline> baselines;
  std::map<std::size_t, std::vector<HBA_EVENTINFO>> events;
  std::map<std::size_t, HBA_MGMTINFO> rnid;

 private:
  Library() : start_(Clock::now()) {
    std::string text;
    const char* path = std::getenv(SIM_MODEL_VARIABLE);
    if (path != nullptr && *path != '\0') {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream all;
      all << in.rdbuf();
      text = in ? all.str() : std::string();
    } else {
      text = default_model_json();
    }
    Faults ignored;
    std::string error;
    ready = parse_model(text, 0, model, ignored, error) && parse_hba_faults(text, faults, error);
    if (!ready) std::fprintf(stderr, "hbaapi (simulated library): %s\n", error.c_str());
  }

  Clock::time_point start_;
};

// Fires a crash fault of the function once; the lock is not held meanwhile.
void crash_if_armed(Library& lib, const char* name) {
  int signal = 0;
  {
    std::lock_guard lock(lib.mutex);
    auto it = lib.faults.crash.find(name);
    if (it == lib.faults.crash.end()) return;
    signal = it->second;
    lib.faults.crash.erase(it);
  }
  std::raise(signal);
}

// One call: the crash and status faults, the lock, the loaded check.
struct Call {
  explicit Call(const char* name) : lib(Library::get()) {
    crash_if_armed(lib, name);
    lock = std::unique_lock(lib.mutex);
    auto fault = lib.faults.status.find(name);
    if (fault != lib.faults.status.end()) {
      refused = true;
      status = fault->second;
    } else if (!lib.ready || !lib.loaded) {
      refused = true;
      status = HBA_STATUS_ERROR;
    }
  }

  // The adapter of an open handle, or null.
  const Adapter* adapter(HBA_HANDLE handle, std::size_t* index = nullptr) const {
    auto it = lib.handles.find(handle);
    if (it == lib.handles.end()) return nullptr;
    if (index != nullptr) *index = it->second;
    return &lib.model.adapters[it->second];
  }

  Library& lib;
  std::unique_lock<std::mutex> lock;
  bool refused = false;
  HBA_STATUS status = HBA_STATUS_OK;
};

template <std::size_t N>
void copy_text(char (&to)[N], const std::string& text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(to, text.data(), n);
  to[n] = '\0';
}

void copy_wwn(HBA_WWN& to, const Wwn& wwn) {
  std::memcpy(to.wwn, wwn.data(), sizeof to.wwn);
}

HBA_PORTSPEED speed_bits(std::uint32_t gbit) {
  switch (gbit) {
    case 1:
      return 1;
    case 2:
      return 2;
    case 4:
      return 8;
    case 8:
      return 0x10;
    case 10:
      return 4;
    default:
      return HBA_PORTSPEED_UNKNOWN;
  }
}

std::string os_device(std::size_t adapter, std::size_t port) {
  return "/sys/class/fc_host/host" + std::to_string(adapter * 8 + port);
}

void fill_local_port(const Adapter& a, std::size_t ai, std::size_t pi, HBA_PORTATTRIBUTES& out) {
  const Port& p = a.ports[pi];
  out = HBA_PORTATTRIBUTES{};
  copy_wwn(out.NodeWWN, a.node_wwn);
  copy_wwn(out.PortWWN, p.wwn);
  out.PortFcId = p.fc_address;
  out.PortType = p.topology == 1 ? HBA_PORTTYPE_NPORT : HBA_PORTTYPE_NLPORT;
  out.PortState = p.link_up && p.state != 0 ? HBA_PORTSTATE_ONLINE : HBA_PORTSTATE_LINKDOWN;
  out.PortSupportedClassofService = 1u << p.class_bit;
  out.PortSupportedFc4Types.bits[2] = 0x01;  // FCP
  out.PortActiveFc4Types.bits[2] = 0x01;
  copy_text(out.PortSymbolicName, p.description);
  copy_text(out.OSDeviceName, os_device(ai, pi));
  for (std::uint32_t g : {1u, 2u, 4u}) {
    if (g <= p.speed) out.PortSupportedSpeed |= speed_bits(g);
  }
  out.PortSupportedSpeed |= speed_bits(p.speed);
  out.PortSpeed = speed_bits(p.speed);
  out.PortMaxFrameSize = 2048;
  const std::uint8_t fabric[8] = {0x10, 0, 0, 0x05, 0x1E, 0, 0, static_cast<std::uint8_t>(ai)};
  if (p.topology == 1) std::memcpy(out.FabricName.wwn, fabric, sizeof fabric);
  HBA_UINT32 discovered = 0;
  for (const RemoteNode& node : p.remote_nodes)
    discovered += static_cast<HBA_UINT32>(node.ports.size());
  out.NumberofDiscoveredPorts = discovered;
}

void fill_remote_port(const RemoteNode& node, const RemotePort& rp, HBA_PORTATTRIBUTES& out) {
  out = HBA_PORTATTRIBUTES{};
  copy_wwn(out.NodeWWN, node.wwn);
  copy_wwn(out.PortWWN, rp.wwn);
  out.PortFcId = rp.fc_address;
  out.PortType = HBA_PORTTYPE_NPORT;
  out.PortState = HBA_PORTSTATE_ONLINE;
  out.PortSupportedClassofService = 1u << node.class_bit;
  out.PortActiveFc4Types.bits[2] = 0x01;
}

// A remote port by index across the port's remote nodes, or null.
const RemotePort* discovered(const Port& port, HBA_UINT32 index, const RemoteNode** node) {
  for (const RemoteNode& n : port.remote_nodes) {
    if (index < n.ports.size()) {
      *node = &n;
      return &n.ports[index];
    }
    index -= static_cast<HBA_UINT32>(n.ports.size());
  }
  return nullptr;
}

std::string scsi_device(std::size_t n) {
  std::string name = "/dev/sd";
  name += static_cast<char>('a' + n % 26);
  return name;
}

// Every LUN seen through the adapter, in port, node, LUN order.
struct LunEntry {
  std::size_t port;
  const RemoteNode* node;
  const Lun* lun;
};
std::vector<LunEntry> luns_of(const Adapter& a) {
  std::vector<LunEntry> all;
  for (std::size_t pi = 0; pi < a.ports.size(); ++pi) {
    for (const RemoteNode& node : a.ports[pi].remote_nodes) {
      for (const Lun& lun : node.luns) all.push_back({pi, &node, &lun});
    }
  }
  return all;
}

void fill_ids(const LunEntry& e, std::size_t n, HBA_SCSIID& scsi, HBA_FCPID& fcp) {
  copy_text(scsi.OSDeviceName, scsi_device(n));
  scsi.ScsiBusNumber = static_cast<HBA_UINT32>(e.port);
  scsi.ScsiTargetNumber = static_cast<HBA_UINT32>(e.node->target_id);
  scsi.ScsiOSLun = e.lun->number;
  if (!e.node->ports.empty()) {
    fcp.FcId = e.node->ports[0].fc_address;
    copy_wwn(fcp.PortWWN, e.node->ports[0].wwn);
  }
  copy_wwn(fcp.NodeWWN, e.node->wwn);
  std::memcpy(&fcp.FcpLun, e.lun->address.data(), sizeof fcp.FcpLun);
}

HBA_INT64 counter(const Library& lib, const Port& port, const PortBaseline& base, Counter c) {
  return static_cast<HBA_INT64>(counter_value(port, c, lib.now_ms()) - base.counters[c]);
}

void queue_link_events(Library& lib) {
  lib.events.clear();
  for (std::size_t ai = 0; ai < lib.model.adapters.size(); ++ai) {
    for (const Port& p : lib.model.adapters[ai].ports) {
      HBA_EVENTINFO e{};
      e.EventCode = p.link_up ? HBA_EVENT_LINK_UP : HBA_EVENT_LINK_DOWN;
      e.Event.Link_EventInfo.PortFcId = p.fc_address;
      lib.events[ai].push_back(e);
    }
  }
}

// ---- The functions, by the types of hbaapi.h --------------------------------

HBA_UINT32 get_version() {
  return HBA_LIBVERSION;
}

HBA_STATUS load_library() {
  Library& lib = Library::get();
  crash_if_armed(lib, "HBA_LoadLibrary");
  std::lock_guard lock(lib.mutex);
  auto fault = lib.faults.status.find("HBA_LoadLibrary");
  if (fault != lib.faults.status.end()) return fault->second;
  if (!lib.ready) return HBA_STATUS_ERROR;
  if (!lib.loaded) queue_link_events(lib);
  lib.loaded = true;
  return HBA_STATUS_OK;
}

HBA_STATUS free_library() {
  Call call("HBA_FreeLibrary");
  if (call.refused) return call.status;
  call.lib.loaded = false;
  call.lib.handles.clear();
  return HBA_STATUS_OK;
}

HBA_UINT32 get_number_of_adapters() {
  Call call("HBA_GetNumberOfAdapters");
  return call.refused ? 0 : static_cast<HBA_UINT32>(call.lib.model.adapters.size());
}

HBA_STATUS get_adapter_name(HBA_UINT32 index, char* name) {
  Call call("HBA_GetAdapterName");
  if (call.refused) return call.status;
  if (name == nullptr) return HBA_STATUS_ERROR_ARG;
  if (index >= call.lib.model.adapters.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
  char text[256];
  copy_text(text, call.lib.model.adapters[index].name);
  std::memcpy(name, text, std::strlen(text) + 1);
  return HBA_STATUS_OK;
}

// The next handle after the last one given that is not open, from 1 up.
HBA_HANDLE new_handle(Library& lib) {
  for (HBA_HANDLE tries = 0; tries < kLastHandle; ++tries) {
    lib.last_handle = lib.last_handle % kLastHandle + 1;
    if (lib.handles.count(lib.last_handle) == 0) return lib.last_handle;
  }
  return HBA_HANDLE_INVALID;
}

HBA_HANDLE open_adapter(char* name) {
  Call call("HBA_OpenAdapter");
  if (call.refused || name == nullptr) return HBA_HANDLE_INVALID;
  const auto& adapters = call.lib.model.adapters;
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    if (std::strncmp(adapters[i].name.c_str(), name, 256) != 0) continue;
    HBA_HANDLE handle = new_handle(call.lib);
    if (handle != HBA_HANDLE_INVALID) call.lib.handles[handle] = i;
    return handle;
  }
  return HBA_HANDLE_INVALID;
}

void close_adapter(HBA_HANDLE handle) {
  Call call("HBA_CloseAdapter");
  call.lib.handles.erase(handle);
}

HBA_STATUS get_adapter_attributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* out) {
  Call call("HBA_GetAdapterAttributes");
  if (call.refused) return call.status;
  const Adapter* a = call.adapter(handle);
  if (a == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  *out = HBA_ADAPTERATTRIBUTES{};
  const Port* first = a->ports.empty() ? nullptr : &a->ports[0];
  copy_text(out->Manufacturer, first != nullptr ? first->vendor : "");
  copy_text(out->SerialNumber, first != nullptr ? first->serial_number : "");
  copy_text(out->Model, a->model);
  copy_text(out->ModelDescription, a->model + " (" + a->bus_name + ")");
  copy_wwn(out->NodeWWN, a->node_wwn);
  copy_text(out->NodeSymbolicName, a->node_name);
  copy_text(out->HardwareVersion, first != nullptr ? first->revision : "");
  copy_text(out->DriverVersion, "3.3.43-sim");
  copy_text(out->OptionROMVersion, "1.00");
  copy_text(out->FirmwareVersion, first != nullptr ? first->version : "");
  out->VendorSpecificID = 0x2312'1077;
  out->NumberOfPorts = static_cast<HBA_UINT32>(a->ports.size());
  copy_text(out->DriverName, "tavro-sim");
  return HBA_STATUS_OK;
}

HBA_STATUS get_adapter_port_attributes(HBA_HANDLE handle, HBA_UINT32 port,
                                       HBA_PORTATTRIBUTES* out) {
  Call call("HBA_GetAdapterPortAttributes");
  if (call.refused) return call.status;
  std::size_t ai = 0;
  const Adapter* a = call.adapter(handle, &ai);
  if (a == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (port >= a->ports.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  fill_local_port(*a, ai, port, *out);
  return HBA_STATUS_OK;
}

HBA_STATUS get_port_statistics(HBA_HANDLE handle, HBA_UINT32 port, HBA_PORTSTATISTICS* out) {
  Call call("HBA_GetPortStatistics");
  if (call.refused) return call.status;
  std::size_t ai = 0;
  const Adapter* a = call.adapter(handle, &ai);
  if (a == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (port >= a->ports.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  const Port& p = a->ports[port];
  const PortBaseline& base = call.lib.baselines[{ai, port}];
  const Library& lib = call.lib;
  *out = HBA_PORTSTATISTICS{};
  out->SecondsSinceLastReset = (lib.now_ms() - base.reset_ms) / 1000;
  out->TxFrames = counter(lib, p, base, kTxSeqs);
  out->TxWords = counter(lib, p, base, kTxBytes) / 4;
  out->RxFrames = counter(lib, p, base, kRxSeqs);
  out->RxWords = counter(lib, p, base, kRxBytes) / 4;
  out->ErrorFrames = counter(lib, p, base, kRxErrors);
  out->DumpedFrames = counter(lib, p, base, kRxDiscards);
  out->LinkFailureCount = p.link_transitions;
  out->InvalidTxWordCount = counter(lib, p, base, kTxErrors);
  out->InvalidCRCCount = counter(lib, p, base, kTxDiscards);
  return HBA_STATUS_OK;
}

HBA_STATUS get_discovered_port_attributes(HBA_HANDLE handle, HBA_UINT32 port, HBA_UINT32 index,
                                          HBA_PORTATTRIBUTES* out) {
  Call call("HBA_GetDiscoveredPortAttributes");
  if (call.refused) return call.status;
  const Adapter* a = call.adapter(handle);
  if (a == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (port >= a->ports.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
  const RemoteNode* node = nullptr;
  const RemotePort* remote = discovered(a->ports[port], index, &node);
  if (remote == nullptr) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  fill_remote_port(*node, *remote, *out);
  return HBA_STATUS_OK;
}

HBA_STATUS get_port_attributes_by_wwn(HBA_HANDLE handle, HBA_WWN wwn, HBA_PORTATTRIBUTES* out) {
  Call call("HBA_GetPortAttributesByWWN");
  if (call.refused) return call.status;
  std::size_t ai = 0;
  const Adapter* a = call.adapter(handle, &ai);
  if (a == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  for (std::size_t pi = 0; pi < a->ports.size(); ++pi) {
    const Port& p = a->ports[pi];
    if (std::memcmp(p.wwn.data(), wwn.wwn, 8) == 0) {
      fill_local_port(*a, ai, pi, *out);
      return HBA_STATUS_OK;
    }
    for (const RemoteNode& node : p.remote_nodes) {
      for (const RemotePort& rp : node.ports) {
        if (std::memcmp(rp.wwn.data(), wwn.wwn, 8) != 0) continue;
        fill_remote_port(node, rp, *out);
        return HBA_STATUS_OK;
      }
    }
  }
  return HBA_STATUS_ERROR_ILLEGAL_WWN;
}

// A CT request is answered with its own header and the accept code.
HBA_STATUS send_ct_pass_thru(HBA_HANDLE handle, void* request, HBA_UINT32 request_size,
                             void* response, HBA_UINT32 response_size) {
  constexpr HBA_UINT32 kHeader = 16;
  Call call("HBA_SendCTPassThru");
  if (call.refused) return call.status;
  if (call.adapter(handle) == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (request == nullptr || response == nullptr || request_size < kHeader) {
    return HBA_STATUS_ERROR_ARG;
  }
  if (response_size < kHeader) return HBA_STATUS_ERROR_MORE_DATA;
  std::memcpy(response, request, kHeader);
  auto* bytes = static_cast<unsigned char*>(response);
  bytes[8] = 0x80;
  bytes[9] = 0x02;
  return HBA_STATUS_OK;
}

void refresh_information(HBA_HANDLE handle) {
  Call call("HBA_RefreshInformation");
  (void)call.adapter(handle);
}

void reset_statistics(HBA_HANDLE handle, HBA_UINT32 port) {
  Call call("HBA_ResetStatistics");
  std::size_t ai = 0;
  const Adapter* a = call.adapter(handle, &ai);
  if (call.refused || a == nullptr || port >= a->ports.size()) return;
  PortBaseline& base = call.lib.baselines[{ai, port}];
  base.reset_ms = call.lib.now_ms();
  for (int c = 0; c < kCounterCount; ++c) {
    base.counters[c] = counter_value(a->ports[port], static_cast<Counter>(c), base.reset_ms);
  }
}

HBA_STATUS get_fcp_target_mapping(HBA_HANDLE handle, HBA_FCPTARGETMAPPING* out) {
  Call call("HBA_GetFcpTargetMapping");
  if (call.refused) return call.status;
  const Adapter* a = call.adapter(handle);
  if (a == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  std::vector<LunEntry> all = luns_of(*a);
  const HBA_UINT32 room = out->NumberOfEntries;  // the entries the caller's buffer holds
  out->NumberOfEntries = static_cast<HBA_UINT32>(all.size());
  if (all.size() > room) return HBA_STATUS_ERROR_MORE_DATA;
  for (std::size_t n = 0; n < all.size(); ++n) {
    out->entry[n] = HBA_FCPSCSIENTRY{};
    fill_ids(all[n], n, out->entry[n].ScsiId, out->entry[n].FcpId);
  }
  return HBA_STATUS_OK;
}

HBA_STATUS get_fcp_persistent_binding(HBA_HANDLE handle, HBA_FCPBINDING* out) {
  Call call("HBA_GetFcpPersistentBinding");
  if (call.refused) return call.status;
  const Adapter* a = call.adapter(handle);
  if (a == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  std::vector<LunEntry> all = luns_of(*a);
  const HBA_UINT32 room = out->NumberOfEntries;
  out->NumberOfEntries = static_cast<HBA_UINT32>(all.size());
  if (all.size() > room) return HBA_STATUS_ERROR_MORE_DATA;
  for (std::size_t n = 0; n < all.size(); ++n) {
    HBA_FCPBINDINGENTRY& e = out->entry[n];
    e = HBA_FCPBINDINGENTRY{};
    e.type = TO_WWN;
    fill_ids(all[n], n, e.ScsiId, e.FcpId);
    e.FcId = e.FcpId.FcId;
  }
  return HBA_STATUS_OK;
}

HBA_STATUS get_event_buffer(HBA_HANDLE handle, HBA_EVENTINFO* buffer, HBA_UINT32* count) {
  Call call("HBA_GetEventBuffer");
  if (call.refused) return call.status;
  std::size_t ai = 0;
  if (call.adapter(handle, &ai) == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (buffer == nullptr || count == nullptr) return HBA_STATUS_ERROR_ARG;
  std::vector<HBA_EVENTINFO>& queued = call.lib.events[ai];
  const std::size_t n = queued.size() < *count ? queued.size() : *count;
  for (std::size_t i = 0; i < n; ++i) buffer[i] = queued[i];
  queued.erase(queued.begin(), queued.begin() + static_cast<std::ptrdiff_t>(n));
  *count = static_cast<HBA_UINT32>(n);
  return HBA_STATUS_OK;
}

HBA_STATUS set_rnid_mgmt_info(HBA_HANDLE handle, HBA_MGMTINFO* info) {
  Call call("HBA_SetRNIDMgmtInfo");
  if (call.refused) return call.status;
  std::size_t ai = 0;
  if (call.adapter(handle, &ai) == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (info == nullptr) return HBA_STATUS_ERROR_ARG;
  call.lib.rnid[ai] = *info;
  return HBA_STATUS_OK;
}

HBA_STATUS get_rnid_mgmt_info(HBA_HANDLE handle, HBA_MGMTINFO* out) {
  Call call("HBA_GetRNIDMgmtInfo");
  if (call.refused) return call.status;
  std::size_t ai = 0;
  const Adapter* a = call.adapter(handle, &ai);
  if (a == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
  if (out == nullptr) return HBA_STATUS_ERROR_ARG;
  auto set = call.lib.rnid.find(ai);
  if (set != call.lib.rnid.end()) {
    *out = set->second;
    return HBA_STATUS_OK;
  }
  *out = HBA_MGMTINFO{};
  copy_wwn(out->wwn, a->node_wwn);
  out->unittype = kUnitTypeHba;
  out->PortId = a->ports.empty() ? 0 : a->ports[0].fc_address;
  HBA_UINT32 nodes = 0;
  for (const Port& p : a->ports) nodes += static_cast<HBA_UINT32>(p.remote_nodes.size());
  out->NumberOfAttachedNodes = nodes;
  return HBA_STATUS_OK;
}

HBA_STATUS send_rnid(HBA_HANDLE, HBA_WWN, HBA_WWNTYPE, void*, HBA_UINT32*) {
  Call call("HBA_SendRNID");
  return call.refused ? call.status : HBA_STATUS_ERROR_NOT_SUPPORTED;
}

HBA_STATUS send_scsi_inquiry(HBA_HANDLE, HBA_WWN, HBA_UINT64, HBA_UINT8, HBA_UINT32, void*,
                             HBA_UINT32, void*, HBA_UINT32) {
  Call call("HBA_SendScsiInquiry");
  return call.refused ? call.status : HBA_STATUS_ERROR_NOT_SUPPORTED;
}

HBA_STATUS send_report_luns(HBA_HANDLE, HBA_WWN, void*, HBA_UINT32, void*, HBA_UINT32) {
  Call call("HBA_SendReportLUNs");
  return call.refused ? call.status : HBA_STATUS_ERROR_NOT_SUPPORTED;
}

HBA_STATUS send_read_capacity(HBA_HANDLE, HBA_WWN, HBA_UINT64, void*, HBA_UINT32, void*,
                              HBA_UINT32) {
  Call call("HBA_SendReadCapacity");
  return call.refused ? call.status : HBA_STATUS_ERROR_NOT_SUPPORTED;
}

// The entry points a common library takes when it loads this library as a
// vendor library (/etc/hba.conf); the first 24 are alike in both tables.
template <typename Table>
HBA_STATUS fill_entry_points(Table* table) {
  if (table == nullptr) return HBA_STATUS_ERROR_ARG;
  *table = Table{};
  table->GetVersionHandler = get_version;
  table->LoadLibraryHandler = load_library;
  table->FreeLibraryHandler = free_library;
  table->GetNumberOfAdaptersHandler = get_number_of_adapters;
  table->GetAdapterNameHandler = get_adapter_name;
  table->OpenAdapterHandler = open_adapter;
  table->CloseAdapterHandler = close_adapter;
  table->GetAdapterAttributesHandler = get_adapter_attributes;
  table->GetAdapterPortAttributesHandler = get_adapter_port_attributes;
  table->GetPortStatisticsHandler = get_port_statistics;
  table->GetDiscoveredPortAttributesHandler = get_discovered_port_attributes;
  table->GetPortAttributesByWWNHandler = get_port_attributes_by_wwn;
  table->SendCTPassThruHandler = send_ct_pass_thru;
  table->RefreshInformationHandler = refresh_information;
  table->ResetStatisticsHandler = reset_statistics;
  table->GetFcpTargetMappingHandler = get_fcp_target_mapping;
  table->GetFcpPersistentBindingHandler = get_fcp_persistent_binding;
  table->GetEventBufferHandler = get_event_buffer;
  table->SetRNIDMgmtInfoHandler = set_rnid_mgmt_info;
  table->GetRNIDMgmtInfoHandler = get_rnid_mgmt_info;
  table->SendRNIDHandler = send_rnid;
  table->ScsiInquiryHandler = send_scsi_inquiry;
  table->ReportLUNsHandler = send_report_luns;
  table->ReadCapacityHandler = send_read_capacity;
  return HBA_STATUS_OK;
}

HBA_STATUS register_library(HBA_ENTRYPOINTS* table) {
  return fill_entry_points(table);
}

HBA_STATUS register_library_v2(HBA_ENTRYPOINTSV2* table) {
  return fill_entry_points(table);
}

// A function listed as missing by the model is not found by dlsym: its
// export is an indirect function whose resolver answers null.
bool exported(const char* name) {
  Library& lib = Library::get();
  std::lock_guard lock(lib.mutex);
  return lib.faults.missing.count(name) == 0;
}

}  // namespace
}  // namespace sim

// (The resolvers have C names for the attribute to find; the export map
// keeps them local.)
#define SIM_EXPORT(name, impl)                          \
  extern "C" {                                          \
  decltype(&sim::impl) resolve_##name();                \
  decltype(&sim::impl) resolve_##name() {               \
    return sim::exported(#name) ? &sim::impl : nullptr; \
  }                                                     \
  }                                                     \
  decltype(sim::impl) name __attribute__((ifunc("resolve_" #name)));

SIM_EXPORT(HBA_GetVersion, get_version)
SIM_EXPORT(HBA_LoadLibrary, load_library)
SIM_EXPORT(HBA_FreeLibrary, free_library)
SIM_EXPORT(HBA_GetNumberOfAdapters, get_number_of_adapters)
SIM_EXPORT(HBA_GetAdapterName, get_adapter_name)
SIM_EXPORT(HBA_OpenAdapter, open_adapter)
SIM_EXPORT(HBA_CloseAdapter, close_adapter)
SIM_EXPORT(HBA_GetAdapterAttributes, get_adapter_attributes)
SIM_EXPORT(HBA_GetAdapterPortAttributes, get_adapter_port_attributes)
SIM_EXPORT(HBA_GetPortStatistics, get_port_statistics)
SIM_EXPORT(HBA_GetDiscoveredPortAttributes, get_discovered_port_attributes)
SIM_EXPORT(HBA_GetPortAttributesByWWN, get_port_attributes_by_wwn)
SIM_EXPORT(HBA_SendCTPassThru, send_ct_pass_thru)
SIM_EXPORT(HBA_RefreshInformation, refresh_information)
SIM_EXPORT(HBA_ResetStatistics, reset_statistics)
SIM_EXPORT(HBA_GetFcpTargetMapping, get_fcp_target_mapping)
SIM_EXPORT(HBA_GetFcpPersistentBinding, get_fcp_persistent_binding)
SIM_EXPORT(HBA_GetEventBuffer, get_event_buffer)
SIM_EXPORT(HBA_SetRNIDMgmtInfo, set_rnid_mgmt_info)
SIM_EXPORT(HBA_GetRNIDMgmtInfo, get_rnid_mgmt_info)
SIM_EXPORT(HBA_SendRNID, send_rnid)
SIM_EXPORT(HBA_SendScsiInquiry, send_scsi_inquiry)
SIM_EXPORT(HBA_SendReportLUNs, send_report_luns)
SIM_EXPORT(HBA_SendReadCapacity, send_read_capacity)
SIM_EXPORT(HBA_RegisterLibrary, register_library)
SIM_EXPORT(HBA_RegisterLibraryV2, register_library_v2)
