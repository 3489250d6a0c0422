// The kernel's Fibre Channel transport events (NETLINK_SCSITRANSPORT, the FC
// events group): each datagram is read by the lengths it declares into plain
// FcEvent values, then named as a driver event. The layouts are those of the
// kernel's public headers scsi/scsi_netlink.h and scsi/scsi_netlink_fc.h,
// stated here by offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "linux/watch/view.h"

namespace qlinux::watch {

namespace fc_nl {
inline constexpr int kProtocol = 18;                 // NETLINK_SCSITRANSPORT
inline constexpr std::uint32_t kGroup = 1u << 2;     // SCSI_NL_GRP_FC_EVENTS
inline constexpr std::uint16_t kMessageType = 0x11;  // SCSI_TRANSPORT_MSG
inline constexpr std::size_t kNlHeader = 16;         // struct nlmsghdr
// struct scsi_nl_hdr
inline constexpr std::size_t kVersion = 0;    // u8, 1
inline constexpr std::size_t kTransport = 1;  // u8, 1 = FC
inline constexpr std::size_t kMagic = 2;      // u16, 0xA1B2
inline constexpr std::size_t kMsgType = 4;    // u16, 0x0100 = FC_NL_ASYNC_EVENT
inline constexpr std::size_t kMsgLen = 6;     // u16, the whole fc_nl_event
// struct fc_nl_event after its header
inline constexpr std::size_t kSeconds = 8;     // u64
inline constexpr std::size_t kVendorId = 16;   // u64
inline constexpr std::size_t kHostNo = 24;     // u16
inline constexpr std::size_t kDataLen = 26;    // u16
inline constexpr std::size_t kEventNum = 28;   // u32
inline constexpr std::size_t kEventCode = 32;  // u32
inline constexpr std::size_t kEventData = 36;  // event_datalen bytes
inline constexpr std::size_t kMinEvent = 40;   // with a 4-byte event_data

// enum fc_host_event_code
inline constexpr std::uint32_t kLip = 0x1, kLinkUp = 0x2, kLinkDown = 0x3, kLipReset = 0x4,
                               kRscn = 0x5, kAdapterChange = 0x103, kPortUnknown = 0x200,
                               kPortOffline = 0x201, kPortOnline = 0x202, kPortFabric = 0x204,
                               kLinkUnknown = 0x500, kFpin = 0x501, kFpinAck = 0x502,
                               kVendorUnique = 0xFFFF;
}  // namespace fc_nl

struct FcEvent {
  unsigned host = 0;
  std::uint32_t number = 0;  // the kernel's event sequence number
  std::uint32_t code = 0;
  std::uint32_t data = 0;             // the first 4 bytes of the event data (RSCN entry ...)
  std::vector<std::uint8_t> payload;  // all of it (an FPIN's ELS), at most 64 KiB
};

// The FC events of one datagram, in order. A message that is short, cut off,
// of another type, transport, version or magic is skipped; nothing is read
// past a declared length or the datagram.
std::vector<FcEvent> parse_fc_events(std::span<const std::uint8_t> datagram);

// The driver event for one FC event on view's host: named by the adapter and
// port, severity by what happened. Unknown codes are named by number.
Change describe(const FcEvent& event, const View& view);

}  // namespace qlinux::watch
