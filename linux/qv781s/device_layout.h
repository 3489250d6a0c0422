// The adapter devices "\\.\qv781sNN" as this provider serves them from the
// Linux Fibre Channel transport: device NN (two upper-case hexadecimal
// digits) is adapter NN of the sysfs model, in its order. These are the
// records on the device's side of the interface:
//
//   0x222022 description       80 bytes: the adapter's model (else its
//                              description), zero-terminated
//   0x222012 node list         count (32-bit), then 28-byte records, one per
//                              remote node (first port seen) of the adapter's
//                              ports: FC address, SCSI target ID (all ones
//                              for none), the node WWN as two 32-bit words
//                              holding its bytes 0-3 and 4-7 most significant
//                              first, 12 zero bytes; fabric services are no
//                              nodes. More nodes than the buffer holds: E2BIG
//   0x22203E SCSI control      32 bytes in the out buffer: node address, 16
//                              command bytes, command length, two words
//   0x222041 SCSI data in      INQUIRY (6 bytes) only: standard data from the
//                              node's first SCSI device (type, vendor, model,
//                              revision at bytes 8 to 35); no device: EIO
//   0x222046 SCSI data out     refused (EINVAL)
//   0x222082 statistics        19 words: the first port's transport counters
//                              tx_frames, tx_words, rx_frames, rx_words,
//                              lip_count, nos_count, error_frames,
//                              dumped_frames, link_failure_count,
//                              loss_of_sync_count, loss_of_signal_count,
//                              prim_seq_protocol_err_count,
//                              invalid_tx_word_count, invalid_crc_count,
//                              fcp_input_requests, fcp_output_requests,
//                              fcp_control_requests, fcp_input_megabytes,
//                              fcp_output_megabytes; each its low 32 bits
//                              (a counter), all ones when not kept; none
//                              kept at all: ENODATA
//   0x22209E WWNs              16 bytes: the first port's WWN, then the node
//                              WWN, each 4-byte group reversed; either
//                              unknown: ENODATA
//
// The kernel keeps no serial EEPROM, IP interface, SCSI, network, register,
// frame or throughput records: 0x222092, 0x222064, 0x222086, 0x22208A,
// 0x22208E, 0x222096, 0x2220AA and 0x2220AE fail with EOPNOTSUPP. Any other
// code, or an out buffer missing or too small, fails with EINVAL; a device
// whose adapter has gone since it was opened fails with ENODEV.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linux_dev {

inline constexpr std::uint32_t kDescription = 0x222022, kGetNodes = 0x222012,
                               kScsiControl = 0x22203E, kScsiDataIn = 0x222041,
                               kScsiDataOut = 0x222046, kStatistics = 0x222082, kWwns = 0x22209E;
inline constexpr std::uint32_t kNotKept[] = {0x222092, 0x222064, 0x222086, 0x22208A,
                                             0x22208E, 0x222096, 0x2220AA, 0x2220AE};

inline constexpr std::size_t kDescriptionBytes = 80;
inline constexpr std::size_t kNodeRecordBytes = 28;
inline constexpr std::size_t kControlBlockBytes = 32;
inline constexpr std::size_t kStatisticsWords = 19;
inline constexpr std::size_t kWwnRecordBytes = 16;
inline constexpr std::size_t kInquiryBytes = 36;
inline constexpr std::uint8_t kInquiry = 0x12;

}  // namespace linux_dev
