// The vendor library's two exports: they fill the common library's table of
// entry points. Every function this library does not answer is there too,
// answering HBA_STATUS_ERROR_NOT_SUPPORTED.
// clang-format off
#include <time.h>
#include <hbaapi.h>
#include <vendorhbaapi.h>
// clang-format on
#include <dlfcn.h>

#include <cstring>

#include "base/revision.h"
#include "linux/hbaapi/vendor.h"

namespace linux_hba {
namespace {

Vendor& vendor() {
  static Vendor v(sysfs::default_root());
  return v;
}

template <typename F>
struct Refuse;
template <typename R, typename... A>
struct Refuse<R (*)(A...)> {
  static R call(A...) { return HBA_STATUS_ERROR_NOT_SUPPORTED; }
};
template <typename F>
void refuse(F& slot) {
  slot = &Refuse<F>::call;
}

HBA_UINT32 get_version() {
  return HBA_LIBVERSION;
}
HBA_STATUS load_library() {
  return HBA_STATUS_OK;
}
HBA_STATUS free_library() {
  return vendor().free_library();
}
HBA_UINT32 adapter_count() {
  return vendor().adapter_count();
}
HBA_STATUS adapter_name(HBA_UINT32 index, char* name) {
  return vendor().adapter_name(index, name);
}
HBA_HANDLE open_adapter(char* name) {
  return vendor().open(name);
}
HBA_STATUS open_by_wwn(HBA_HANDLE* handle, HBA_WWN wwn) {
  return vendor().open_by_wwn(handle, wwn);
}
void close_adapter(HBA_HANDLE handle) {
  vendor().close(handle);
}
HBA_STATUS adapter_attributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* out) {
  return vendor().adapter_attributes(handle, out);
}
HBA_STATUS port_attributes(HBA_HANDLE handle, HBA_UINT32 port, HBA_PORTATTRIBUTES* out) {
  return vendor().port_attributes(handle, port, out);
}
HBA_STATUS port_statistics(HBA_HANDLE handle, HBA_UINT32 port, HBA_PORTSTATISTICS* out) {
  return vendor().port_statistics(handle, port, out);
}
HBA_STATUS discovered_port(HBA_HANDLE handle, HBA_UINT32 port, HBA_UINT32 index,
                           HBA_PORTATTRIBUTES* out) {
  return vendor().discovered_port(handle, port, index, out);
}
HBA_STATUS port_by_wwn(HBA_HANDLE handle, HBA_WWN wwn, HBA_PORTATTRIBUTES* out) {
  return vendor().port_by_wwn(handle, wwn, out);
}
// The model keeps its view a second; the next call looks again.
void refresh_information(HBA_HANDLE) {
  vendor().refresh();
}
void refresh_configuration() {
  vendor().refresh();
}
void reset_statistics(HBA_HANDLE handle, HBA_UINT32 port) {
  vendor().reset_statistics(handle, port);
}
HBA_STATUS target_mapping(HBA_HANDLE handle, HBA_FCPTARGETMAPPING* out) {
  return vendor().target_mapping(handle, out);
}
HBA_STATUS target_mapping_v2(HBA_HANDLE handle, HBA_WWN port, HBA_FCPTARGETMAPPINGV2* out) {
  return vendor().target_mapping_v2(handle, port, out);
}

HBA_UINT32 library_attributes(HBA_LIBRARYATTRIBUTES* out) {
  if (out != nullptr) {
    *out = HBA_LIBRARYATTRIBUTES{};
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&library_attributes), &info) != 0 && info.dli_fname)
      std::strncpy(out->LibPath, info.dli_fname, sizeof out->LibPath - 1);
    std::strncpy(out->VName, "tavro", sizeof out->VName - 1);
    std::strncpy(out->VVersion, tavro::revision_text, sizeof out->VVersion - 1);
  }
  return HBA_LIBVERSION;
}

template <typename Table>
void fill_v1(Table* t) {
  t->GetVersionHandler = get_version;
  t->LoadLibraryHandler = load_library;
  t->FreeLibraryHandler = free_library;
  t->GetNumberOfAdaptersHandler = adapter_count;
  t->GetAdapterNameHandler = adapter_name;
  t->OpenAdapterHandler = open_adapter;
  t->CloseAdapterHandler = close_adapter;
  t->GetAdapterAttributesHandler = adapter_attributes;
  t->GetAdapterPortAttributesHandler = port_attributes;
  t->GetPortStatisticsHandler = port_statistics;
  t->GetDiscoveredPortAttributesHandler = discovered_port;
  t->GetPortAttributesByWWNHandler = port_by_wwn;
  refuse(t->SendCTPassThruHandler);
  t->RefreshInformationHandler = refresh_information;
  t->ResetStatisticsHandler = reset_statistics;
  t->GetFcpTargetMappingHandler = target_mapping;
  refuse(t->GetFcpPersistentBindingHandler);
  refuse(t->GetEventBufferHandler);
  refuse(t->SetRNIDMgmtInfoHandler);
  refuse(t->GetRNIDMgmtInfoHandler);
  refuse(t->SendRNIDHandler);
  refuse(t->ScsiInquiryHandler);
  refuse(t->ReportLUNsHandler);
  refuse(t->ReadCapacityHandler);
}

}  // namespace
}  // namespace linux_hba

using namespace linux_hba;

extern "C" {

__attribute__((visibility("default"))) HBA_STATUS HBA_RegisterLibrary(HBA_ENTRYPOINTS* t) {
  if (t == nullptr) return HBA_STATUS_ERROR_ARG;
  fill_v1(t);
  return HBA_STATUS_OK;
}

__attribute__((visibility("default"))) HBA_STATUS HBA_RegisterLibraryV2(HBA_ENTRYPOINTSV2* t) {
  if (t == nullptr) return HBA_STATUS_ERROR_ARG;
  fill_v1(t);
  t->OpenAdapterByWWNHandler = open_by_wwn;
  t->GetFcpTargetMappingV2Handler = target_mapping_v2;
  refuse(t->SendCTPassThruV2Handler);
  t->RefreshAdapterConfigurationHandler = refresh_configuration;
  refuse(t->GetBindingCapabilityHandler);
  refuse(t->GetBindingSupportHandler);
  refuse(t->SetBindingSupportHandler);
  refuse(t->SetPersistentBindingV2Handler);
  refuse(t->GetPersistentBindingV2Handler);
  refuse(t->RemovePersistentBindingHandler);
  refuse(t->RemoveAllPersistentBindingsHandler);
  refuse(t->SendRNIDV2Handler);
  refuse(t->ScsiInquiryV2Handler);
  refuse(t->ScsiReportLUNsV2Handler);
  refuse(t->ScsiReadCapacityV2Handler);
  t->GetVendorLibraryAttributesHandler = library_attributes;
  refuse(t->RemoveCallbackHandler);
  refuse(t->RegisterForAdapterAddEventsHandler);
  refuse(t->RegisterForAdapterEventsHandler);
  refuse(t->RegisterForAdapterPortEventsHandler);
  refuse(t->RegisterForAdapterPortStatEventsHandler);
  refuse(t->RegisterForTargetEventsHandler);
  refuse(t->RegisterForLinkEventsHandler);
  refuse(t->SendRPLHandler);
  refuse(t->SendRPSHandler);
  refuse(t->SendSRLHandler);
  refuse(t->SendLIRRHandler);
  refuse(t->GetFC4StatisticsHandler);
  refuse(t->GetFCPStatisticsHandler);
  refuse(t->SendRLSHandler);
  return HBA_STATUS_OK;
}

}  // extern "C"
