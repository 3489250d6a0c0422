// The driver message catalogue: message numbers, destinations, data-area
// sizes and layouts, and the response tables of the dispatcher.
//
// Every integer in a data area is 32-bit little-endian, a WWN is 8 bytes in
// transmission order and text is zero-terminated. A response arrives in the
// layout of its request with the driver's answer filled in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavro {

class Channel;

// Destinations.
inline constexpr const char* kFcphDestination = "fcph";
inline constexpr const char* kFcpDestination = "fcp";
inline constexpr const char* kSifDestination = "/pvd/fcp0.sif";
// Position of the digit that the adapter name request replaces by the index.
inline constexpr std::size_t kSifDigit = 8;

// Port and node attribute requests ("fcph", 256 bytes). The response is the
// request number plus one.
inline constexpr std::uint32_t FCPH_GET_PORT_SPEED = 0x15000016;
inline constexpr std::uint32_t FCPH_GET_PORT_STATE = 0x15000018;
inline constexpr std::uint32_t FCPH_SET_PORT_STATE = 0x1500001A;
inline constexpr std::uint32_t FCPH_GET_PORT_VENDOR = 0x1500001C;
inline constexpr std::uint32_t FCPH_GET_PORT_REVISION = 0x1500001E;
inline constexpr std::uint32_t FCPH_GET_PORT_SERIAL_NUMBER = 0x15000020;
inline constexpr std::uint32_t FCPH_GET_PORT_DESCRIPTION = 0x15000022;
inline constexpr std::uint32_t FCPH_GET_PORT_VERSION = 0x15000024;
inline constexpr std::uint32_t FCPH_GET_PORT_TOPOLOGY = 0x15000026;
inline constexpr std::uint32_t FCPH_GET_FACTORY_PORT_WWN = 0x15000028;
inline constexpr std::uint32_t FCPH_GET_SUPPORTED_CLASSES = 0x1500002C;
inline constexpr std::uint32_t FCPH_GET_TX_SEQS = 0x1500002E;
inline constexpr std::uint32_t FCPH_GET_RX_SEQS = 0x15000030;
inline constexpr std::uint32_t FCPH_GET_TX_BYTES = 0x15000032;
inline constexpr std::uint32_t FCPH_GET_RX_BYTES = 0x15000034;
inline constexpr std::uint32_t FCPH_GET_TX_ERRORS = 0x15000036;
inline constexpr std::uint32_t FCPH_GET_RX_ERRORS = 0x15000038;
inline constexpr std::uint32_t FCPH_GET_PHYS_TYPE = 0x1500003E;
inline constexpr std::uint32_t FCPH_GET_CONNECTOR_TYPE = 0x15000040;
inline constexpr std::uint32_t FCPH_GET_LINK_STATE = 0x15000042;
inline constexpr std::uint32_t FCPH_GET_LINK_TRANSITIONS = 0x15000044;
inline constexpr std::uint32_t FCPH_GET_LOCAL_NODES_COUNT = 0x15000046;
inline constexpr std::uint32_t FCPH_GET_NODE_WWN = 0x15000048;
inline constexpr std::uint32_t FCPH_SET_NODE_WWN = 0x15000050;
inline constexpr std::uint32_t FCPH_GET_NODE_PORT_CT = 0x15000052;
inline constexpr std::uint32_t FCPH_GET_REMOTE_NODE_CT = 0x15000054;
inline constexpr std::uint32_t FCPH_GET_SEND_OPS = 0x15000056;
inline constexpr std::uint32_t FCPH_GET_RCV_OPS = 0x15000058;
inline constexpr std::uint32_t FCPH_GET_SEND_BYTES = 0x15000060;
inline constexpr std::uint32_t FCPH_GET_RCV_BYTES = 0x15000062;
inline constexpr std::uint32_t FCPH_GET_SEND_ERRORS = 0x15000064;
inline constexpr std::uint32_t FCPH_GET_RCV_ERRORS = 0x15000066;
inline constexpr std::uint32_t FCPH_GET_SEND_DISCARD = 0x15000068;
inline constexpr std::uint32_t FCPH_GET_PORTWWN = 0x15000070;
inline constexpr std::uint32_t FCPH_GET_REMOTE_NODE_WWN = 0x15000072;
inline constexpr std::uint32_t FCPH_GET_REMOTE_NODE_PC = 0x15000074;
inline constexpr std::uint32_t FCPH_GET_REMOTE_NODE_TYPE = 0x15000076;
inline constexpr std::uint32_t FCPH_GET_REMOTE_NODE_CLASS = 0x15000078;
inline constexpr std::uint32_t FCPH_SET_FC_PORT_WWN = 0x15000082;
inline constexpr std::uint32_t FCPH_GET_PORT_USR_TOPOLOGY = 0x15000084;
inline constexpr std::uint32_t FCPH_SET_PORT_USR_TOPOLOGY = 0x15000086;
inline constexpr std::uint32_t FCPH_GET_RCV_DISCARD = 0x15000090;
inline constexpr std::uint32_t FCPH_GET_REMOTE_NODE_PORTWWN = 0x15000092;
inline constexpr std::uint32_t FCPH_GET_REMOTE_NODE_FCADDR = 0x15000094;
inline constexpr std::uint32_t FCPH_GET_FC_ADDRESS = 0x15000096;

// The LXS object message ("fcp", 256 bytes).
inline constexpr std::uint32_t LXS_FCP = 0x0B00001E;
inline constexpr std::uint32_t LXS_FCP_RESP = 0x8B00001E;

// Target-support requests ("/pvd/fcp0.sif"); the response has bit 31 set.
inline constexpr std::uint32_t LXS_GET_ADAPTER_COUNT = 0x1E00000A;
inline constexpr std::uint32_t LXS_GET_ADAPTER_NAME = 0x1E00000B;
inline constexpr std::uint32_t LXS_GET_FCP_MANUAL_ID = 0x1E00000C;
inline constexpr std::uint32_t LXS_SET_FCP_MANUAL_ID = 0x1E00000D;
inline constexpr std::uint32_t LXS_GET_REMNODE_TGT_ID = 0x1E00000E;
inline constexpr std::uint32_t LXS_SET_REMNODE_TGT_ID = 0x1E00000F;
inline constexpr std::uint32_t LXS_GET_REMNODE_BLOCKED = 0x1E000010;
inline constexpr std::uint32_t LXS_SET_REMNODE_BLOCKED = 0x1E000011;

// Adapter requests, sent to the adapter's own name; the response has bit 31 set.
inline constexpr std::uint32_t HPD_LTX_ADAPTER_INFO = 0x14000014;
inline constexpr std::uint32_t HPD_LTX_DUPLEX_STATUS = 0x14000015;
inline constexpr std::uint32_t HPD_LTX_ADAPTER_PORTWWN = 0x14000016;

// Sent by the driver without a request.
inline constexpr std::uint32_t kDriverEvent = 0x0300000B;

inline constexpr std::uint32_t kResponseBit = 0x80000000;

// The response number that answers a request number.
constexpr std::uint32_t response_number(std::uint32_t request) {
  return (request >= 0x15000000 && request <= 0x15FFFFFF) ? request + 1 : request | kResponseBit;
}

inline std::uint32_t read_u32(const void* data, std::size_t offset) {
  std::uint8_t b[4];
  std::memcpy(b, static_cast<const std::uint8_t*>(data) + offset, 4);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

inline void write_u32(void* data, std::size_t offset, std::uint32_t value) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                       static_cast<std::uint8_t>(value >> 16),
                       static_cast<std::uint8_t>(value >> 24)};
  std::memcpy(static_cast<std::uint8_t*>(data) + offset, b, 4);
}

// Data-area layouts (byte offsets).
namespace fcph {
inline constexpr std::size_t kSize = 256;
inline constexpr std::size_t kNumber = 12;  // the request number again
inline constexpr std::size_t kArgs = 80;    // first argument
}  // namespace fcph

namespace lxs {
inline constexpr std::size_t kSize = 256;
inline constexpr std::size_t kObjectId = 0;  // bit 31 set for a write
inline constexpr std::size_t kType = 4;
inline constexpr std::size_t kCount = 8;
inline constexpr std::size_t kRequestId = 12;
inline constexpr std::size_t kStatus = 16;  // 0 or 1 success; 2 to 5 failure
inline constexpr std::size_t kIndex = 20;
inline constexpr std::size_t kPortWwn = 24;
inline constexpr std::size_t kNodeWwn = 32;
inline constexpr std::size_t kRemoteWwn = 40;
inline constexpr std::size_t kAdapterName = 48;
inline constexpr std::size_t kAdapterNameSize = 64;
inline constexpr std::size_t kValue = 112;
inline constexpr std::size_t kTextValue = 120;  // object 16 read as text
inline constexpr std::uint32_t kWriteBit = 0x80000000;
inline constexpr std::uint32_t kDescriptionObject = 16;
}  // namespace lxs

namespace sif {
inline constexpr std::size_t kListSize = 1024;  // adapter count and name
inline constexpr std::size_t kSize = 256;
inline constexpr std::size_t kRequestId = 0;
inline constexpr std::size_t kAdapterIndex = 4;  // adapter name request
inline constexpr std::size_t kAdapterCount = 4;  // adapter count response
inline constexpr std::size_t kCountStatus = 8;   // adapter count response
inline constexpr std::size_t kAdapterName = 8;   // adapter name response
inline constexpr std::size_t kNameStatus = 72;   // adapter name response
inline constexpr std::size_t kManualId = 4;      // FCP manual SCSI-ID mode
inline constexpr std::size_t kFirstWwn = 4;      // remote-node requests
inline constexpr std::size_t kRemoteWwn = 12;
inline constexpr std::size_t kRemoteValue = 20;
}  // namespace sif

namespace hpd {
inline constexpr std::size_t kInfoSize = 512;
inline constexpr std::size_t kSize = 256;
inline constexpr std::size_t kInfoCode = 0;  // 1 port count, 2 bus name, 3 model
inline constexpr std::size_t kPortCount = 4;
inline constexpr std::size_t kBusName = 8;
inline constexpr std::size_t kBusNameSize = 64;
inline constexpr std::size_t kModel = 72;
inline constexpr std::size_t kRequestId = 0;
inline constexpr std::size_t kDuplex = 4;
inline constexpr std::size_t kPortWwn = 4;
}  // namespace hpd

namespace driver_event {
inline constexpr std::size_t kSeverity = 0;
inline constexpr std::size_t kText = 8;
// Longest event text read from a delivery.
inline constexpr std::size_t kTextMax = 248;
}  // namespace driver_event

// One request of the catalogue.
struct RequestRow {
  const char* name;  // base name
  std::uint32_t number;
  const char* destination;  // null: the adapter's own name
  std::uint32_t size;
};

extern const RequestRow message_catalogue[];
const RequestRow* find_request(std::uint32_t number);

// A value mapping: listed values are replaced, any other is kept or replaced
// by a fixed value.
struct ValueMap {
  int pairs;
  std::int32_t from[15];
  std::int32_t to[15];
  bool keep_other;
  std::int32_t other;
};

struct ResponseRow;
using Deliver = void (*)(Channel& channel, const ResponseRow& row, const std::uint8_t* data);
using ResponseTrace = void (*)(Channel& channel, const std::uint8_t* data);

// One response the dispatcher handles: how its value is delivered to the
// waiting request.
struct ResponseRow {
  std::uint32_t number;
  const char* name;
  Deliver deliver;
  std::uint16_t offset;  // where the value starts
  std::uint16_t size;    // bytes of the data area
  std::int8_t type;      // value type code
  std::int8_t count;
  const ValueMap* map;
  ResponseTrace trace;  // extra field traces
  const char* note;     // out-of-range line of the address rows
};

// The full catalogue, for the daemon and the private-tree agent.
extern const ResponseRow tavro_responses[];
// The standard MIB agent's encodings over the same dispatcher.
extern const ResponseRow stdagent_responses[];

const ResponseRow* find_response(const ResponseRow* table, std::uint32_t number);

// The reply text of a failed LXS object response: "Error:  <object>: <status>".
void fcp_error_text(std::uint32_t object_id, std::uint32_t status, char* out, std::size_t cap);

// Where the driver says whether it answered: a 32-bit status word, 0 when it
// did. On any other value the answer's value fields are left as sent.
struct StatusWord {
  std::uint32_t first;  // response numbers
  std::uint32_t last;
  std::uint16_t offset;
  bool lxs_codes;  // the status codes of the LXS object message (2 to 5)
};
// Status codes of the other families.
inline constexpr std::uint32_t kStatusUnknown = 2;  // no such adapter, port, node or index
inline constexpr std::uint32_t kStatusNotAvailable = 6;
inline constexpr std::uint32_t kStatusNotSupported = 7;

extern const StatusWord status_words[];
// The status word of a response, or null when it carries none the programs read.
const StatusWord* find_status_word(std::uint32_t response);
// "Error:  <request>: <status>", for a response whose status is not 0.
void status_error_text(std::uint32_t response, std::uint32_t status, char* out, std::size_t cap);

}  // namespace tavro
