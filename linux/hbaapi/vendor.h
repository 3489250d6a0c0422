// The answers of the SNIA HBA API vendor library libtavrohba.so: the adapters
// of the sysfs model (every FC host, grouped by PCI device), their ports (the
// hosts), the remote ports and the SCSI devices behind them. Every call reads
// the files again, so adapters and remote ports that come and go are seen at
// once; only a port's statistics are kept for up to a second.
#pragma once

// clang-format off
#include <time.h>  // hbaapi.h uses struct tm without including it
#include <hbaapi.h>
// clang-format on

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "sysfs/model.h"

namespace linux_hba {

class Vendor {
 public:
  explicit Vendor(std::string root) : model_(std::move(root)) {}

  // The next call looks at sysfs again rather than at the view of this second.
  void refresh() { model_.invalidate(); }

  HBA_STATUS free_library();
  HBA_UINT32 adapter_count();
  HBA_STATUS adapter_name(HBA_UINT32 index, char* name);
  HBA_HANDLE open(const char* name);
  HBA_STATUS open_by_wwn(HBA_HANDLE* handle, HBA_WWN wwn);
  void close(HBA_HANDLE handle);
  HBA_STATUS adapter_attributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* out);
  HBA_STATUS port_attributes(HBA_HANDLE handle, HBA_UINT32 port, HBA_PORTATTRIBUTES* out);
  HBA_STATUS port_statistics(HBA_HANDLE handle, HBA_UINT32 port, HBA_PORTSTATISTICS* out);
  HBA_STATUS discovered_port(HBA_HANDLE handle, HBA_UINT32 port, HBA_UINT32 index,
                             HBA_PORTATTRIBUTES* out);
  HBA_STATUS port_by_wwn(HBA_HANDLE handle, HBA_WWN wwn, HBA_PORTATTRIBUTES* out);
  void reset_statistics(HBA_HANDLE handle, HBA_UINT32 port);
  HBA_STATUS target_mapping(HBA_HANDLE handle, HBA_FCPTARGETMAPPING* out);
  HBA_STATUS target_mapping_v2(HBA_HANDLE handle, HBA_WWN port, HBA_FCPTARGETMAPPINGV2* out);

 private:
  // The adapter an open handle names, with the status to answer when none.
  std::optional<sysfs::Adapter> adapter(HBA_HANDLE handle, HBA_STATUS& status) const;
  // The host of a port of the adapter.
  std::optional<sysfs::FcHost> port(HBA_HANDLE handle, HBA_UINT32 index, HBA_STATUS& status) const;
  HBA_HANDLE new_handle(const std::string& name);
  template <typename Mapping>
  HBA_STATUS mapping(HBA_HANDLE handle, const HBA_WWN* port, Mapping* out);

  std::mutex mutex_;
  sysfs::Model model_;
  std::map<HBA_HANDLE, std::string> handles_;  // handle -> adapter name
  HBA_HANDLE last_handle_ = 0;
};

}  // namespace linux_hba
