// Direct adapter access: the table of open adapter devices, the operations
// that send I/O control requests to them, and the driver's settings in the
// registry. One instance lives for the program's run; only the thread that
// serves requests uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/device.h"
#include "platform/registry.h"

namespace tavro {

class Diag;

// Status codes of the device operations.
enum FcStatus : int {
  kFcOk = 0,
  kFcInvalid = 1,
  kFcNoAdapter = 2,
  kFcNoMemory = 3,
  kFcIoError = 4,
  kFcNoKey = 5,
  kFcNotOpen = 6,
  kFcNotYet = 7,
  kFcRegistryRoot = 16,
  kFcRegistryKey = 17,
};

struct FcStatusText {
  char text[32];
};
// "FC No error", ..., "FC unknown error <code>".
FcStatusText fc_status_text(int status);

// I/O control codes and the sizes of their records.
inline constexpr std::uint32_t kIoctlDescription = 0x222022;
inline constexpr std::uint32_t kIoctlGetNodes = 0x222012;
inline constexpr std::uint32_t kIoctlScsiControl = 0x22203E;
inline constexpr std::uint32_t kIoctlScsiDataIn = 0x222041;
inline constexpr std::uint32_t kIoctlScsiDataOut = 0x222046;
inline constexpr std::uint32_t kIoctlGetIpAddr = 0x222064;
inline constexpr std::uint32_t kIoctlStatistics = 0x222082;
inline constexpr std::uint32_t kIoctlScsiStats = 0x222086;
inline constexpr std::uint32_t kIoctlNetStats = 0x22208A;
inline constexpr std::uint32_t kIoctlDiagTach = 0x22208E;
inline constexpr std::uint32_t kIoctlSerialEeprom = 0x222092;
inline constexpr std::uint32_t kIoctlDiagFrame = 0x222096;
inline constexpr std::uint32_t kIoctlGetWwn = 0x22209E;
inline constexpr std::uint32_t kIoctlMbThroughput = 0x2220AA;
inline constexpr std::uint32_t kIoctlIoThroughput = 0x2220AE;

inline constexpr std::size_t kDescriptionSize = 80;
inline constexpr std::size_t kNodeListSize = 4096;
inline constexpr std::size_t kNodeRecordSize = 28;
inline constexpr std::size_t kMaxNodes = (kNodeListSize - 4) / kNodeRecordSize;
inline constexpr std::size_t kEepromSize = 128;
inline constexpr std::size_t kWwnRecordSize = 16;
inline constexpr std::size_t kIpAddrInSize = 128;
inline constexpr std::size_t kIpAddrOutSize = 12;
inline constexpr std::size_t kScsiControlSize = 32;
inline constexpr std::uint32_t kTickInterval = 100;

inline constexpr std::uint32_t kHandleMagic = 0x46434449;  // "IDCF"
inline constexpr std::uint32_t kHandleDeviceOpen = 0x1;
inline constexpr std::uint32_t kHandleEepromCached = 0x2;

struct fcdi_handle {
  std::uint32_t magic = 0;
  std::uint32_t flags = 0;
  std::unique_ptr<std::uint8_t[]> eeprom;  // kEepromSize bytes while cached
  platform::device_t device = platform::kNoDevice;
};

// One entry of the node list, as the driver lays it out.
struct fcdi_node {
  std::uint8_t bytes[kNodeRecordSize];
  std::uint32_t word(std::size_t offset) const;  // little-endian 32-bit word
};

struct fcdi_scsi_request {
  const fcdi_node* node;
  void* data;
  std::uint32_t data_length;
  std::uint8_t command[16];
  std::uint32_t command_length;
  std::uint32_t flags;  // bit 0: data goes to the device
  std::uint32_t words[2];
};

// The driver settings record, in this order.
inline constexpr int kSettingCount = 8;
struct FcSetting {
  const char* name;
  std::uint32_t fallback;
};
inline constexpr FcSetting kFcSettings[kSettingCount] = {
    {"MaxFrameSize", 2048}, {"AlPa", 0},           {"Point2Point", 1}, {"ShadowRam", 1},
    {"AutoDiscovery", 1},   {"LogInformation", 2}, {"LogWarning", 2},  {"LogError", 2}};

class DirectAccess {
 public:
  static constexpr int kAdapters = 8;
  static constexpr int kDeviceNumbers = 128;

  DirectAccess(const Diag& diag, std::string registry_root)
      : diag_(diag), registry_(std::move(registry_root)) {}
  DirectAccess(const DirectAccess&) = delete;
  DirectAccess& operator=(const DirectAccess&) = delete;
  ~DirectAccess() { close_all(); }

  // Opens up to eight adapter devices; returns at once once any is open.
  void open_all();
  // Frees every handle and closes its device; the next open_all probes the
  // devices afresh.
  void close_all();

  const Diag& diag() const { return diag_; }
  bool opened() const { return opened_; }
  int open_status(int slot) const { return status_[slot]; }
  int adapter_count() const { return adapter_count_; }
  int probe_cursor() const { return cursor_; }
  // The device number of an adapter index, or -1.
  int device_number(int index) const;
  // The handle of an adapter index, or null when it is not open.
  fcdi_handle* handle(int index);

  // Device operations; each returns a status code.
  int request(fcdi_handle* h, std::uint32_t code, const void* in, std::size_t in_size, void* out,
              std::size_t out_size, int* system_error = nullptr);
  int serial_eeprom(fcdi_handle* h, std::uint8_t* out);  // kEepromSize bytes
  int wwn(fcdi_handle* h, std::uint8_t* out);            // kWwnRecordSize bytes
  // Fills nodes (room for kMaxNodes) and *count.
  int nodes(fcdi_handle* h, fcdi_node* nodes, std::uint32_t* count);
  int scsi_command(fcdi_handle* h, const fcdi_scsi_request& request);

  // Settings under the adapter's service key.
  int settings(int index, std::uint32_t* values);  // kSettingCount values
  int set_key(int index, const char* name, const char* text);
  int set_node(int index, const char* name, const char* text);
  int node_value(int index, const char* name, std::uint32_t* value);

  // The service key of an adapter index and its node subkey.
  std::string service_key(int index) const;
  std::string node_key(int index) const;

 private:
  int open_next(std::unique_ptr<fcdi_handle>& slot);
  int check(const fcdi_handle* h) const;

  const Diag& diag_;
  platform::Devices devices_;
  platform::Registry registry_;
  std::array<std::unique_ptr<fcdi_handle>, kAdapters> handles_;
  std::array<int, kAdapters> status_{};
  bool opened_ = false;
  std::array<int, kDeviceNumbers> map_{};
  int adapter_count_ = 0;
  int cursor_ = 0;
};

// Reads a setting value: a number with C base prefixes (base 16 for a node
// value), nothing but blanks after it, fitting 32 bits. False otherwise.
bool parse_setting_value(const char* text, int base, std::uint32_t* value);

}  // namespace tavro
