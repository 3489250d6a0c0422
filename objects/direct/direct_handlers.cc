// The direct-object handlers: device records, the serial EEPROM, nodes and
// driver settings.
#include "objects/direct/direct_handlers.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/diag.h"
#include "base/message.h"
#include "objects/value_format.h"

namespace tavro {
namespace {

constexpr std::uint32_t kRecordDump = 0x100000;

// One device record: its operation's name, I/O control code, size and how
// much of it a debug dump shows.
struct Record {
  const char* name;
  std::uint32_t code;
  std::size_t size;
  std::size_t dump;
};
constexpr Record kStatistics{"fcdiGetStatistics", kIoctlStatistics, 76, 76};
constexpr Record kScsiStats{"fcdiSCSIStats", kIoctlScsiStats, 40, 40};
constexpr Record kNetStats{"fcdiNetStats", kIoctlNetStats, 100, 100};
constexpr Record kDiagTach{"fc_diag_tach", kIoctlDiagTach, 84, 84};
constexpr Record kWwn{"fcdiGetWwn", kIoctlGetWwn, kWwnRecordSize, kWwnRecordSize};
constexpr Record kDiagFrame{"fc_diag_frame", kIoctlDiagFrame, 140, 0};
constexpr Record kIoThroughput{"fcdi_IO_throughput", kIoctlIoThroughput, 20, 4};
constexpr Record kMbThroughput{"fcdi_MB_throughput", kIoctlMbThroughput, 20, 4};
constexpr std::size_t kLargestRecord = 140;

std::uint32_t word_at(const std::uint8_t* bytes, std::size_t offset) {
  std::uint32_t word = 0;
  std::memcpy(&word, bytes + offset, sizeof word);
  return word;
}

// Reads the record; replies the operation's error and returns false on failure.
bool read_record(DirectCall& call, int adapter, const Record& r, std::uint8_t* record,
                 int* result) {
  DirectAccess& direct = call.direct;
  int system_error = 0;
  int status = r.code == kIoctlGetWwn ? direct.wwn(direct.handle(adapter), record)
                                      : direct.request(direct.handle(adapter), r.code, nullptr, 0,
                                                       record, r.size, &system_error);
  if (status != kFcOk) {
    if (r.code == kIoctlDiagTach) direct.diag().print("Dump regs failed: %x\n", system_error);
    *result = fcdi_fail(call, r.name, status);
    return false;
  }
  if (r.dump != 0 && direct.diag().on(kRecordDump)) {
    direct.diag().hexdump(record, static_cast<int>(r.dump));
  }
  return true;
}

// Renders the row's field of the record.
int reply_field(DirectCall& call, const fcdi_oid_entry& row, const std::uint8_t* record,
                std::size_t size) {
  auto offset = static_cast<std::size_t>(row.offset);
  if (offset > size) offset = size;
  format_value(call.text, call.cap, record + offset, size - offset, row.count,
               static_cast<int>(row.type));
  return fcdi_reply(call, call.text);
}

int record_field(DirectCall& call, const fcdi_oid_entry& row, int adapter, const Record& r) {
  std::uint8_t record[kLargestRecord] = {};
  int result = 0;
  if (!read_record(call, adapter, r, record, &result)) return result;
  return reply_field(call, row, record, r.size);
}

int throughput(DirectCall& call, int adapter, const Record& r) {
  std::uint8_t record[kLargestRecord] = {};
  int result = 0;
  if (!read_record(call, adapter, r, record, &result)) return result;
  std::snprintf(call.text, call.cap, "%u:%u:%u:%u:%u", word_at(record, 8), word_at(record, 12),
                word_at(record, 0), word_at(record, 4), word_at(record, 16));
  return fcdi_reply(call, call.text);
}

// Copies at most max characters from bytes, stopping at a zero byte.
std::string bounded_text(const std::uint8_t* bytes, std::size_t max) {
  std::size_t n = 0;
  while (n < max && bytes[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(bytes), n);
}

bool read_eeprom(DirectCall& call, int adapter, const char* operation, std::uint8_t* eeprom,
                 int* result) {
  int status = call.direct.serial_eeprom(call.direct.handle(adapter), eeprom);
  if (status == kFcOk) return true;
  *result = fcdi_fail(call, operation, status);
  return false;
}

}  // namespace

int fcdi_manufacturer(DirectCall& call, const fcdi_oid_entry&, int) {
  return fcdi_reply(call, "Quellstone Corporation");
}

int fcdi_description(DirectCall& call, const fcdi_oid_entry&, int) {
  return fcdi_reply(call, "Fibre Channel Adapter");
}

int fcdi_not_supported(DirectCall& call, const fcdi_oid_entry&, int) {
  char reply[kMessageSize + 64];
  std::snprintf(reply, sizeof reply, "%sNot supported yet(%s)", "Error: ", call.text);
  return fcdi_reply(call, reply);
}

int fcdi_tick_interval(DirectCall& call, const fcdi_oid_entry&, int) {
  std::snprintf(call.text, call.cap, "%u", kTickInterval);
  return fcdi_reply(call, call.text);
}

int fcdi_wwn(DirectCall& call, const fcdi_oid_entry& row, int adapter) {
  return record_field(call, row, adapter, kWwn);
}

int fcdi_statistics(DirectCall& call, const fcdi_oid_entry& row, int adapter) {
  return record_field(call, row, adapter, kStatistics);
}

int fcdi_scsi_stats(DirectCall& call, const fcdi_oid_entry& row, int adapter) {
  return record_field(call, row, adapter, kScsiStats);
}

int fcdi_net_stats(DirectCall& call, const fcdi_oid_entry& row, int adapter) {
  return record_field(call, row, adapter, kNetStats);
}

int fcdi_diag_tach(DirectCall& call, const fcdi_oid_entry& row, int adapter) {
  return record_field(call, row, adapter, kDiagTach);
}

int fcdi_diag_frame(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  std::uint8_t record[kLargestRecord] = {};
  int result = 0;
  if (!read_record(call, adapter, kDiagFrame, record, &result)) return result;
  std::size_t used = 0;
  for (std::size_t offset = 0; offset < kDiagFrame.size && used < call.cap; offset += 4) {
    used += static_cast<std::size_t>(
        std::snprintf(call.text + used, call.cap - used, "%x:", word_at(record, offset)));
  }
  return fcdi_reply(call, call.text);
}

int fcdi_io_throughput(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  return throughput(call, adapter, kIoThroughput);
}

int fcdi_mb_throughput(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  return throughput(call, adapter, kMbThroughput);
}

int fcdi_eeprom(DirectCall& call, const fcdi_oid_entry& row, int adapter) {
  std::uint8_t eeprom[kEepromSize];
  int result = 0;
  if (!read_eeprom(call, adapter, "fcdiGetSerialEeprom", eeprom, &result)) return result;
  return reply_field(call, row, eeprom, sizeof eeprom);
}

int fcdi_eeprom_word(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  std::uint8_t eeprom[kEepromSize];
  int result = 0;
  if (!read_eeprom(call, adapter, "fcdiGetSerialEeprom", eeprom, &result)) return result;
  auto word = static_cast<std::int32_t>(word_at(eeprom, 80));
  std::snprintf(call.text, call.cap, "%u", static_cast<std::uint32_t>(word >> 8));
  return fcdi_reply(call, call.text);
}

int fcdi_adapter_type(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  std::uint8_t eeprom[kEepromSize];
  int result = 0;
  if (!read_eeprom(call, adapter, "fc_adap_type", eeprom, &result)) return result;
  std::snprintf(call.text, call.cap, "%s %s", bounded_text(eeprom + 84, 6).c_str(),
                bounded_text(eeprom + 92, 13).c_str());
  return fcdi_reply(call, call.text);
}

int fcdi_ip_name(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  std::uint8_t eeprom[kEepromSize];
  int result = 0;
  if (!read_eeprom(call, adapter, "fcdiGetRawSerialEeprom", eeprom, &result)) return result;
  char in[kIpAddrInSize] = {};
  for (std::size_t i = 0; i < 8; ++i) {
    std::snprintf(in + 2 * i, sizeof in - 2 * i, "%02X", eeprom[64 + i]);
  }
  char out[kIpAddrOutSize] = {};
  int status = call.direct.request(call.direct.handle(adapter), kIoctlGetIpAddr, in, sizeof in, out,
                                   sizeof out);
  if (status != kFcOk) return fcdi_fail(call, "fcdiGetIpAddr", status);
  if (std::strncmp(out, "N/A", 3) == 0) return fcdi_reply(call, "N/A");
  std::snprintf(call.text, call.cap, "%s%c%c%c", "qv781i", out[0], out[1], out[2]);
  return fcdi_reply(call, call.text);
}

}  // namespace tavro
