// The simulated adapter devices "\\.\qv781sNN": one per adapter of the model,
// with the records the device I/O control requests return. Built from the
// model's "devices" section (sim/README.md) over the adapters, ports and
// remote nodes of the same model.
//
// The layouts below are the driver's side of the device interface:
//   0x222022 description       80 bytes, text
//   0x222012 node list         4096 bytes: count (32-bit), then 28-byte records:
//                              address, target ID, WWN as two 32-bit words
//                              holding its bytes 0-3 and 4-7 most significant first
//   0x22203E SCSI control      32 bytes in the out buffer: node address, 16
//                              command bytes, command length, two words
//   0x222041 SCSI data in      the data of the command (INQUIRY only)
//   0x222046 SCSI data out     refused: no command here sends data
//   0x222064 IP interface      in: 16 hex digits of EEPROM bytes 64-71; out 12 bytes text
//   0x222082 statistics        19 words      0x222086 SCSI statistics 10 words
//   0x22208A network stats     25 words      0x22208E registers      21 words
//   0x222092 serial EEPROM     128 bytes, parts in the driver's byte order
//   0x222096 frame diagnostics 35 words
//   0x22209E WWNs              16 bytes: two WWNs, each 4-byte group reversed
//   0x2220AA MB throughput     5 words       0x2220AE I/O throughput 5 words
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "sim/model.h"

namespace sim {

inline constexpr std::size_t kEepromBytes = 128;

struct DeviceNode {
  std::uint32_t address = 0;
  std::uint32_t target_id = 0;
  Wwn wwn{};
  bool scsi = false;  // answers INQUIRY
  std::uint8_t peripheral = 0;
  std::string inquiry;  // vendor, product and revision: 28 characters
};

struct Device {
  int number = 0;  // the NN of "\\.\qv781sNN"
  bool present = true;
  std::string description;
  std::vector<std::uint32_t> statistics, scsi_stats, net_stats, registers, frame, io_throughput,
      mb_throughput;
  bool statistics_given = false;  // else the first port's counters fill the first eight
  std::array<std::uint8_t, kEepromBytes> eeprom{};  // as the daemon shows it
  Wwn first_wwn{}, second_wwn{};
  std::vector<DeviceNode> nodes;
  std::string ip_interface;
  std::set<std::uint32_t> failing;  // control codes that fail with EIO
  const Port* port = nullptr;       // the adapter's first port, if any
};

// Builds the devices of a parsed model from the JSON text's "devices" section.
// False with error set on a bad section.
bool parse_devices(const std::string& json_text, const Model& model, std::vector<Device>& devices,
                   std::string& error);

// The serial EEPROM in the driver's byte order.
std::array<std::uint8_t, kEepromBytes> eeprom_driver_order(
    const std::array<std::uint8_t, kEepromBytes>& shown);
// The WWN record in the driver's byte order.
std::array<std::uint8_t, 16> wwn_record(const Wwn& first, const Wwn& second);

}  // namespace sim
