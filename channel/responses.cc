// The catalogue's rows: requests with their destinations and sizes, and the
// two response tables with the way each response reaches the waiting
// request's reply text.
#include <cstdio>
#include <cstring>

#include "base/diag.h"
#include "channel/catalogue.h"
#include "channel/channel.h"
#include "objects/value_format.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTraceResponses = 0x40000;

std::size_t room(const ResponseRow& row) {
  return row.offset < row.size ? static_cast<std::size_t>(row.size - row.offset) : 0;
}

void traced(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  if (row.trace != nullptr && c.diag().on(kTraceResponses)) row.trace(c, data);
}

// ---- Delivery kinds --------------------------------------------------------

void deliver_value(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  c.recv_drv_msg(data + row.offset, row.count, row.type, false, room(row));
  traced(c, row, data);
}

void deliver_text(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  traced(c, row, data);
  c.recv_drv_msg(data + row.offset, 0, kValueText, false, room(row));
}

void deliver_nothing(Channel& c, const ResponseRow&, const std::uint8_t*) {
  c.recv_drv_msg(nullptr, 0, 0, true, 0);
}

void deliver_int(Channel& c, std::int32_t value, int type) {
  c.recv_drv_msg(&value, 1, type, false, sizeof value);
}

std::int32_t mapped(const ValueMap& map, std::int32_t value) {
  for (int i = 0; i < map.pairs; ++i) {
    if (map.from[i] == value) return map.to[i];
  }
  return map.keep_other ? value : map.other;
}

void deliver_mapped(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  traced(c, row, data);
  auto value = static_cast<std::int32_t>(read_u32(data, row.offset));
  deliver_int(c, mapped(*row.map, value), row.type);
}

// A class number turned into its bit; the lowest byte is the value.
void deliver_class_bit(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  std::uint32_t value = read_u32(data, row.offset);
  auto bit = static_cast<std::uint8_t>((1u << (value & 31)) & 0xFF);
  traced(c, row, data);
  c.recv_drv_msg(&bit, 1, kValueBytes, false, 1);
}

void deliver_fc_address(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  std::uint32_t value = read_u32(data, row.offset);
  if (value > 0xFFFFFF) c.diag().print(row.note, value);
  c.recv_drv_msg(&value, 1, kValueHex6, false, sizeof value);
}

void deliver_duplex(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  deliver_int(c, data[row.offset], kValueSigned);
}

void deliver_adapter_info(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  traced(c, row, data);
  switch (read_u32(data, hpd::kInfoCode)) {
    case 1:
      c.recv_drv_msg(data + hpd::kPortCount, 1, kValueSigned, false, 4);
      break;
    case 2:
      c.recv_drv_msg(data + hpd::kBusName, 0, kValueText, false, hpd::kBusNameSize);
      break;
    case 3:
      c.recv_drv_msg(data + hpd::kModel, 0, kValueText, false, row.size - hpd::kModel);
      break;
    default:
      break;
  }
}

void deliver_object(Channel& c, const ResponseRow& row, const std::uint8_t* data) {
  std::uint32_t status = read_u32(data, lxs::kStatus);
  std::uint32_t object = read_u32(data, lxs::kObjectId);
  int type = static_cast<int>(read_u32(data, lxs::kType));
  int count = static_cast<int>(read_u32(data, lxs::kCount));
  if (c.diag().on(kTraceResponses)) {
    c.diag().print("status = %X\n", status);
    c.diag().print("obj_id = %X\n", object);
    c.diag().print("obj_type = %d,   obj_type_cnt = %d\n", type, count);
  }
  if (status != 0 && status != 1) {
    c.format_fcp_error(data);
    return;
  }
  std::size_t at = lxs::kValue;
  if ((object & ~lxs::kWriteBit) == lxs::kDescriptionObject) {
    if (c.reply_text_is("4.13.1.5")) {
      type = kValueText;
      at = lxs::kTextValue;
    } else {
      type = kValueBytes;
      count = 8;
    }
  }
  c.recv_drv_msg(data + at, count, type, (object & lxs::kWriteBit) != 0, row.size - at);
}

void deliver_event(Channel& c, const ResponseRow&, const std::uint8_t* data) {
  c.driver_event(data);
}

// ---- Field traces ----------------------------------------------------------

void trace_port_speed(Channel& c, const std::uint8_t* data) {
  c.diag().print("FCPH_GET_PORT_SPEED_CNF: port_speed = %d\n",
                 static_cast<int>(read_u32(data, 84)));
}

void trace_remote_class(Channel& c, const std::uint8_t* data) {
  c.diag().print("resp->remote_node_class = %d\n", static_cast<int>(read_u32(data, 92)));
}

void trace_adapter_count(Channel& c, const std::uint8_t* data) {
  c.diag().print("resp->status = %d\n", static_cast<int>(read_u32(data, sif::kCountStatus)));
  c.diag().print("resp->adapt_count = %d\n", static_cast<int>(read_u32(data, sif::kAdapterCount)));
}

void trace_adapter_name(Channel& c, const std::uint8_t* data) {
  const char* name = reinterpret_cast<const char*>(data + sif::kAdapterName);
  c.diag().print("resp->adapter_name = %.*s\n",
                 static_cast<int>(strnlen(name, sif::kNameStatus - sif::kAdapterName)), name);
  c.diag().print("resp->status = %d\n", static_cast<int>(read_u32(data, sif::kNameStatus)));
}

void trace_adapter_info(Channel& c, const std::uint8_t* data) {
  const char* bus = reinterpret_cast<const char*>(data + hpd::kBusName);
  const char* model = reinterpret_cast<const char*>(data + hpd::kModel);
  c.diag().print("resp->req_id = %d\n", static_cast<int>(read_u32(data, hpd::kInfoCode)));
  c.diag().print("resp->port_count = %d\n", static_cast<int>(read_u32(data, hpd::kPortCount)));
  c.diag().print("resp->bus_name = %.*s\n", static_cast<int>(strnlen(bus, hpd::kBusNameSize)), bus);
  c.diag().print("resp->model = %.*s\n",
                 static_cast<int>(strnlen(model, hpd::kInfoSize - hpd::kModel)), model);
}

// ---- Value maps ------------------------------------------------------------

constexpr ValueMap kPortState{1, {0}, {3}, false, 1};
constexpr ValueMap kTopology{4, {0, 1, 2, 3}, {2, 4, 1, 3}, true, 0};
constexpr ValueMap kLinkState{1, {0}, {2}, false, 1};
constexpr ValueMap kUserTopology{4, {0, 1, 2, 3}, {2, 2, 4, 3}, false, 1};
constexpr ValueMap kBlocked{1, {0}, {2}, true, 0};

// The port speed in the standard MIB's units (12,500 per Gbit, 13,000 for
// 1 Gbit). Beyond the six speeds of the old cards, the rates today's Fibre
// Channel and FC over Ethernet ports run at are on the same scale; a code
// that is no such rate (3, say) stays "other", 1.
constexpr ValueMap kStdSpeed{15,
                             {1, 2, 4, 8, 16, 32, 10, 20, 25, 40, 50, 64, 100, 128, 256},
                             {13000, 25000, 50000, 100000, 200000, 400000, 125000, 250000, 312500,
                              500000, 625000, 800000, 1250000, 1600000, 3200000},
                             false,
                             1};
constexpr ValueMap kStdPortState{1, {0}, {3}, false, 2};
constexpr ValueMap kStdTopology{4, {0, 1, 2, 3}, {6, 7, 5, 8}, false, 1};
constexpr ValueMap kStdPhysType{3, {1, 2, 3}, {3, 5, 4}, false, 1};
constexpr ValueMap kStdConnector{3, {3, 4, 5}, {6, 6, 6}, false, 1};

// ---- Rows ------------------------------------------------------------------

constexpr std::uint16_t kFcph = fcph::kSize;

constexpr ResponseRow value_row(std::uint32_t request, const char* name, std::uint16_t offset,
                                int type, int count = 1, ResponseTrace trace = nullptr,
                                std::uint16_t size = kFcph) {
  return {response_number(request),
          name,
          deliver_value,
          offset,
          size,
          static_cast<std::int8_t>(type),
          static_cast<std::int8_t>(count),
          nullptr,
          trace,
          nullptr};
}

constexpr ResponseRow text_row(std::uint32_t request, const char* name, std::uint16_t offset,
                               ResponseTrace trace = nullptr, std::uint16_t size = kFcph) {
  return {response_number(request),
          name,
          deliver_text,
          offset,
          size,
          kValueText,
          0,
          nullptr,
          trace,
          nullptr};
}

constexpr ResponseRow confirm_row(std::uint32_t request, const char* name) {
  return {response_number(request), name, deliver_nothing, 0, 0, 0, 0, nullptr, nullptr, nullptr};
}

constexpr ResponseRow mapped_row(std::uint32_t request, const char* name, std::uint16_t offset,
                                 const ValueMap& map, int type = kValueSigned,
                                 std::uint16_t size = kFcph, ResponseTrace trace = nullptr) {
  return {response_number(request),       name, deliver_mapped, offset, size,
          static_cast<std::int8_t>(type), 1,    &map,           trace,  nullptr};
}

// stdagent traces the speed it serves.
void trace_std_speed(Channel& c, const std::uint8_t* data) {
  c.diag().print(
      "FCPH_GET_PORT_SPEED_CNF: port_speed = %d\n",
      static_cast<int>(mapped(kStdSpeed, static_cast<std::int32_t>(read_u32(data, 84)))));
}

constexpr ResponseRow class_row(std::uint32_t request, const char* name, std::uint16_t offset,
                                ResponseTrace trace = nullptr) {
  return {response_number(request),
          name,
          deliver_class_bit,
          offset,
          kFcph,
          kValueBytes,
          1,
          nullptr,
          trace,
          nullptr};
}

constexpr ResponseRow address_row(std::uint32_t request, const char* name, const char* note) {
  return {response_number(request),
          name,
          deliver_fc_address,
          92,
          kFcph,
          kValueHex6,
          1,
          nullptr,
          nullptr,
          note};
}

// Rows both tables share.
constexpr ResponseRow kSetPortStateRow =
    confirm_row(FCPH_SET_PORT_STATE, "FCPH_SET_PORT_STATE_CNF");
constexpr ResponseRow kRevisionRow =
    text_row(FCPH_GET_PORT_REVISION, "FCPH_GET_PORT_REVISION_CNF", 84);
constexpr ResponseRow kSerialRow =
    text_row(FCPH_GET_PORT_SERIAL_NUMBER, "FCPH_GET_PORT_SERIAL_NUMBER_CNF", 84);
constexpr ResponseRow kTxErrorsRow =
    value_row(FCPH_GET_TX_ERRORS, "FCPH_GET_TX_ERRORS_CNF", 92, kValueUnsigned);
constexpr ResponseRow kRxErrorsRow =
    value_row(FCPH_GET_RX_ERRORS, "FCPH_GET_RX_ERRORS_CNF", 92, kValueUnsigned);
// The ports of a node, as discovery reads them.
constexpr ResponseRow kNodePortCountRow =
    value_row(FCPH_GET_NODE_PORT_CT, "FCPH_GET_NODE_PORT_CT_CNF", 92, kValueUnsigned);
constexpr ResponseRow kPortWwnRow =
    value_row(FCPH_GET_PORTWWN, "FCPH_GET_PORTWWN_CNF", 88, kValueBytes, 8);
constexpr ResponseRow kNodeWwnRow =
    value_row(FCPH_GET_NODE_WWN, "FCPH_GET_NODE_WWN_CNF", 88, kValueBytes, 8);
constexpr ResponseRow kFcAddressRow = address_row(FCPH_GET_FC_ADDRESS, "FCPH_GET_FC_ADDRESS_CNF",
                                                  "**** fc_address out of range: 0x%08X\n");
constexpr ResponseRow kAdapterCountRow =
    value_row(LXS_GET_ADAPTER_COUNT, "LXS_GET_ADAPTER_COUNT_RESP", sif::kAdapterCount, kValueSigned,
              1, trace_adapter_count, sif::kListSize);
constexpr ResponseRow kAdapterNameRow =
    text_row(LXS_GET_ADAPTER_NAME, "LXS_GET_ADAPTER_NAME_RESP", sif::kAdapterName,
             trace_adapter_name, sif::kListSize);
constexpr ResponseRow kAdapterInfoRow = {response_number(HPD_LTX_ADAPTER_INFO),
                                         "HPD_LTX_ADAPTER_INFO_CONF",
                                         deliver_adapter_info,
                                         0,
                                         hpd::kInfoSize,
                                         0,
                                         0,
                                         nullptr,
                                         trace_adapter_info,
                                         nullptr};
constexpr ResponseRow kAdapterPortWwnRow =
    value_row(HPD_LTX_ADAPTER_PORTWWN, "HPD_LTX_ADAPTER_PORTWWN_CONF", hpd::kPortWwn, kValueBytes,
              8, nullptr, hpd::kSize);

}  // namespace

const ResponseRow tavro_responses[] = {
    value_row(FCPH_GET_PORT_SPEED, "FCPH_GET_PORT_SPEED_CNF", 84, kValueUnsigned, 1,
              trace_port_speed),
    mapped_row(FCPH_GET_PORT_STATE, "FCPH_GET_PORT_STATE_CNF", 84, kPortState),
    kSetPortStateRow,
    text_row(FCPH_GET_PORT_VENDOR, "FCPH_GET_PORT_VENDOR_CNF", 84),
    kRevisionRow,
    kSerialRow,
    text_row(FCPH_GET_PORT_DESCRIPTION, "FCPH_GET_PORT_DESCRIPTION_CNF", 84),
    text_row(FCPH_GET_PORT_VERSION, "FCPH_GET_PORT_VERSION_CNF", 84),
    mapped_row(FCPH_GET_PORT_TOPOLOGY, "FCPH_GET_PORT_TOPOLOGY_CNF", 84, kTopology),
    value_row(FCPH_GET_FACTORY_PORT_WWN, "FCPH_GET_FACTORY_PORT_WWN_CNF", 84, kValueBytes, 8),
    class_row(FCPH_GET_SUPPORTED_CLASSES, "FCPH_GET_SUPPORTED_CLASSES_CNF", 96),
    value_row(FCPH_GET_TX_SEQS, "FCPH_GET_TX_SEQS_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_RX_SEQS, "FCPH_GET_RX_SEQS_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_TX_BYTES, "FCPH_GET_TX_BYTES_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_RX_BYTES, "FCPH_GET_RX_BYTES_CNF", 92, kValueUnsigned),
    kTxErrorsRow,
    kRxErrorsRow,
    value_row(FCPH_GET_PHYS_TYPE, "FCPH_GET_PHYS_TYPE_CNF", 92, kValueSigned),
    value_row(FCPH_GET_CONNECTOR_TYPE, "FCPH_GET_CONNECTOR_TYPE_CNF", 92, kValueSigned),
    mapped_row(FCPH_GET_LINK_STATE, "FCPH_GET_LINK_STATE_CNF", 92, kLinkState),
    value_row(FCPH_GET_LINK_TRANSITIONS, "FCPH_GET_LINK_TRANSITIONS_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_LOCAL_NODES_COUNT, "FCPH_GET_LOCAL_NODES_COUNT_CNF", 84, kValueUnsigned),
    kNodeWwnRow,
    confirm_row(FCPH_SET_NODE_WWN, "FCPH_SET_NODE_WWN_CNF"),
    kNodePortCountRow,
    value_row(FCPH_GET_REMOTE_NODE_CT, "FCPH_GET_REMOTE_NODE_CT_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_SEND_OPS, "FCPH_GET_SEND_OPS_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_RCV_OPS, "FCPH_GET_RCV_OPS_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_SEND_BYTES, "FCPH_GET_SEND_BYTES_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_RCV_BYTES, "FCPH_GET_RCV_BYTES_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_SEND_ERRORS, "FCPH_GET_SEND_ERRORS_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_RCV_ERRORS, "FCPH_GET_RCV_ERRORS_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_SEND_DISCARD, "FCPH_GET_SEND_DISCARD_CNF", 92, kValueUnsigned),
    kPortWwnRow,
    value_row(FCPH_GET_REMOTE_NODE_WWN, "FCPH_GET_REMOTE_NODE_WWN_CNF", 88, kValueBytes, 8),
    value_row(FCPH_GET_REMOTE_NODE_PC, "FCPH_GET_REMOTE_NODE_PC_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_REMOTE_NODE_TYPE, "FCPH_GET_REMOTE_NODE_TYPE_CNF", 92, kValueHex8),
    class_row(FCPH_GET_REMOTE_NODE_CLASS, "FCPH_GET_REMOTE_NODE_CLASS_CNF", 92, trace_remote_class),
    confirm_row(FCPH_SET_FC_PORT_WWN, "FCPH_SET_FC_PORT_WWN_CNF"),
    mapped_row(FCPH_GET_PORT_USR_TOPOLOGY, "FCPH_GET_PORT_USR_TOPOLOGY_CNF", 84, kUserTopology),
    confirm_row(FCPH_SET_PORT_USR_TOPOLOGY, "FCPH_SET_PORT_USR_TOPOLOGY_CNF"),
    value_row(FCPH_GET_RCV_DISCARD, "FCPH_GET_RCV_DISCARD_CNF", 92, kValueUnsigned),
    value_row(FCPH_GET_REMOTE_NODE_PORTWWN, "FCPH_GET_REMOTE_NODE_PORTWWN_CNF", 92, kValueBytes, 8),
    address_row(FCPH_GET_REMOTE_NODE_FCADDR, "FCPH_GET_REMOTE_NODE_FCADDR_CNF",
                "**** remote_node_fcaddr out of range: 0x%08X\n"),
    kFcAddressRow,
    {LXS_FCP_RESP, "LXS_FCP_RESP", deliver_object, lxs::kValue, lxs::kSize, 0, 0, nullptr, nullptr,
     nullptr},
    kAdapterInfoRow,
    {response_number(HPD_LTX_DUPLEX_STATUS), "HPD_LTX_DUPLEX_STATUS_CONF", deliver_duplex,
     hpd::kDuplex, hpd::kSize, kValueSigned, 1, nullptr, nullptr, nullptr},
    kAdapterPortWwnRow,
    kAdapterCountRow,
    kAdapterNameRow,
    value_row(LXS_GET_FCP_MANUAL_ID, "LXS_GET_FCP_MANUAL_ID_RESP", sif::kManualId, kValueSigned, 1,
              nullptr, sif::kSize),
    confirm_row(LXS_SET_FCP_MANUAL_ID, "LXS_SET_FCP_MANUAL_ID_RESP"),
    value_row(LXS_GET_REMNODE_TGT_ID, "LXS_G/SET_REMNODE_TGT_ID_RESP", sif::kRemoteValue,
              kValueSigned, 1, nullptr, sif::kSize),
    confirm_row(LXS_SET_REMNODE_TGT_ID, "LXS_G/SET_REMNODE_TGT_ID_RESP"),
    mapped_row(LXS_GET_REMNODE_BLOCKED, "LXS_G/SET_REMNODE_BLOCKED_RESP", sif::kRemoteValue,
               kBlocked, kValueSigned, sif::kSize),
    confirm_row(LXS_SET_REMNODE_BLOCKED, "LXS_G/SET_REMNODE_BLOCKED_RESP"),
    {kDriverEvent, nullptr, deliver_event, 0, 0, 0, 0, nullptr, nullptr, nullptr},
    {},
};

const ResponseRow stdagent_responses[] = {
    mapped_row(FCPH_GET_PORT_SPEED, "FCPH_GET_PORT_SPEED_CNF", 84, kStdSpeed, kValueUnsigned, kFcph,
               trace_std_speed),
    mapped_row(FCPH_GET_PORT_STATE, "FCPH_GET_PORT_STATE_CNF", 84, kStdPortState),
    kSetPortStateRow,
    kRevisionRow,
    kSerialRow,
    mapped_row(FCPH_GET_PORT_TOPOLOGY, "FCPH_GET_PORT_TOPOLOGY_CNF", 84, kStdTopology),
    value_row(FCPH_GET_TX_SEQS, "FCPH_GET_TX_SEQS_CNF", 92, kValueWideHex),
    value_row(FCPH_GET_RX_SEQS, "FCPH_GET_RX_SEQS_CNF", 92, kValueWideHex),
    value_row(FCPH_GET_TX_BYTES, "FCPH_GET_TX_BYTES_CNF", 92, kValueWideHex),
    value_row(FCPH_GET_RX_BYTES, "FCPH_GET_RX_BYTES_CNF", 92, kValueWideHex),
    kTxErrorsRow,
    kRxErrorsRow,
    mapped_row(FCPH_GET_PHYS_TYPE, "FCPH_GET_PHYS_TYPE_CNF", 92, kStdPhysType),
    mapped_row(FCPH_GET_CONNECTOR_TYPE, "FCPH_GET_CONNECTOR_TYPE_CNF", 92, kStdConnector),
    kNodeWwnRow,
    kFcAddressRow,
    kAdapterCountRow,
    kAdapterNameRow,
    kAdapterInfoRow,
    kAdapterPortWwnRow,
    kNodePortCountRow,
    kPortWwnRow,
    {kDriverEvent, nullptr, deliver_event, 0, 0, 0, 0, nullptr, nullptr, nullptr},
    {},
};

const RequestRow message_catalogue[] = {
    {"FCPH_GET_PORT_SPEED", FCPH_GET_PORT_SPEED, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORT_STATE", FCPH_GET_PORT_STATE, kFcphDestination, fcph::kSize},
    {"FCPH_SET_PORT_STATE", FCPH_SET_PORT_STATE, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORT_VENDOR", FCPH_GET_PORT_VENDOR, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORT_REVISION", FCPH_GET_PORT_REVISION, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORT_SERIAL_NUMBER", FCPH_GET_PORT_SERIAL_NUMBER, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORT_DESCRIPTION", FCPH_GET_PORT_DESCRIPTION, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORT_VERSION", FCPH_GET_PORT_VERSION, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORT_TOPOLOGY", FCPH_GET_PORT_TOPOLOGY, kFcphDestination, fcph::kSize},
    {"FCPH_GET_FACTORY_PORT_WWN", FCPH_GET_FACTORY_PORT_WWN, kFcphDestination, fcph::kSize},
    {"FCPH_GET_SUPPORTED_CLASSES", FCPH_GET_SUPPORTED_CLASSES, kFcphDestination, fcph::kSize},
    {"FCPH_GET_TX_SEQS", FCPH_GET_TX_SEQS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_RX_SEQS", FCPH_GET_RX_SEQS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_TX_BYTES", FCPH_GET_TX_BYTES, kFcphDestination, fcph::kSize},
    {"FCPH_GET_RX_BYTES", FCPH_GET_RX_BYTES, kFcphDestination, fcph::kSize},
    {"FCPH_GET_TX_ERRORS", FCPH_GET_TX_ERRORS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_RX_ERRORS", FCPH_GET_RX_ERRORS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PHYS_TYPE", FCPH_GET_PHYS_TYPE, kFcphDestination, fcph::kSize},
    {"FCPH_GET_CONNECTOR_TYPE", FCPH_GET_CONNECTOR_TYPE, kFcphDestination, fcph::kSize},
    {"FCPH_GET_LINK_STATE", FCPH_GET_LINK_STATE, kFcphDestination, fcph::kSize},
    {"FCPH_GET_LINK_TRANSITIONS", FCPH_GET_LINK_TRANSITIONS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_LOCAL_NODES_COUNT", FCPH_GET_LOCAL_NODES_COUNT, kFcphDestination, fcph::kSize},
    {"FCPH_GET_NODE_WWN", FCPH_GET_NODE_WWN, kFcphDestination, fcph::kSize},
    {"FCPH_SET_NODE_WWN", FCPH_SET_NODE_WWN, kFcphDestination, fcph::kSize},
    {"FCPH_GET_NODE_PORT_CT", FCPH_GET_NODE_PORT_CT, kFcphDestination, fcph::kSize},
    {"FCPH_GET_REMOTE_NODE_CT", FCPH_GET_REMOTE_NODE_CT, kFcphDestination, fcph::kSize},
    {"FCPH_GET_SEND_OPS", FCPH_GET_SEND_OPS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_RCV_OPS", FCPH_GET_RCV_OPS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_SEND_BYTES", FCPH_GET_SEND_BYTES, kFcphDestination, fcph::kSize},
    {"FCPH_GET_RCV_BYTES", FCPH_GET_RCV_BYTES, kFcphDestination, fcph::kSize},
    {"FCPH_GET_SEND_ERRORS", FCPH_GET_SEND_ERRORS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_RCV_ERRORS", FCPH_GET_RCV_ERRORS, kFcphDestination, fcph::kSize},
    {"FCPH_GET_SEND_DISCARD", FCPH_GET_SEND_DISCARD, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORTWWN", FCPH_GET_PORTWWN, kFcphDestination, fcph::kSize},
    {"FCPH_GET_REMOTE_NODE_WWN", FCPH_GET_REMOTE_NODE_WWN, kFcphDestination, fcph::kSize},
    {"FCPH_GET_REMOTE_NODE_PC", FCPH_GET_REMOTE_NODE_PC, kFcphDestination, fcph::kSize},
    {"FCPH_GET_REMOTE_NODE_TYPE", FCPH_GET_REMOTE_NODE_TYPE, kFcphDestination, fcph::kSize},
    {"FCPH_GET_REMOTE_NODE_CLASS", FCPH_GET_REMOTE_NODE_CLASS, kFcphDestination, fcph::kSize},
    {"FCPH_SET_FC_PORT_WWN", FCPH_SET_FC_PORT_WWN, kFcphDestination, fcph::kSize},
    {"FCPH_GET_PORT_USR_TOPOLOGY", FCPH_GET_PORT_USR_TOPOLOGY, kFcphDestination, fcph::kSize},
    {"FCPH_SET_PORT_USR_TOPOLOGY", FCPH_SET_PORT_USR_TOPOLOGY, kFcphDestination, fcph::kSize},
    {"FCPH_GET_RCV_DISCARD", FCPH_GET_RCV_DISCARD, kFcphDestination, fcph::kSize},
    {"FCPH_GET_REMOTE_NODE_PORTWWN", FCPH_GET_REMOTE_NODE_PORTWWN, kFcphDestination, fcph::kSize},
    {"FCPH_GET_REMOTE_NODE_FCADDR", FCPH_GET_REMOTE_NODE_FCADDR, kFcphDestination, fcph::kSize},
    {"FCPH_GET_FC_ADDRESS", FCPH_GET_FC_ADDRESS, kFcphDestination, fcph::kSize},
    {"LXS_FCP", LXS_FCP, kFcpDestination, lxs::kSize},
    {"LXS_GET_ADAPTER_COUNT", LXS_GET_ADAPTER_COUNT, kSifDestination, sif::kListSize},
    {"LXS_GET_ADAPTER_NAME", LXS_GET_ADAPTER_NAME, kSifDestination, sif::kListSize},
    {"LXS_GET_FCP_MANUAL_ID", LXS_GET_FCP_MANUAL_ID, kSifDestination, sif::kSize},
    {"LXS_SET_FCP_MANUAL_ID", LXS_SET_FCP_MANUAL_ID, kSifDestination, sif::kSize},
    {"LXS_GET_REMNODE_TGT_ID", LXS_GET_REMNODE_TGT_ID, kSifDestination, sif::kSize},
    {"LXS_SET_REMNODE_TGT_ID", LXS_SET_REMNODE_TGT_ID, kSifDestination, sif::kSize},
    {"LXS_GET_REMNODE_BLOCKED", LXS_GET_REMNODE_BLOCKED, kSifDestination, sif::kSize},
    {"LXS_SET_REMNODE_BLOCKED", LXS_SET_REMNODE_BLOCKED, kSifDestination, sif::kSize},
    {"HPD_LTX_ADAPTER_INFO", HPD_LTX_ADAPTER_INFO, nullptr, hpd::kInfoSize},
    {"HPD_LTX_DUPLEX_STATUS", HPD_LTX_DUPLEX_STATUS, nullptr, hpd::kSize},
    {"HPD_LTX_ADAPTER_PORTWWN", HPD_LTX_ADAPTER_PORTWWN, nullptr, hpd::kSize},
    {nullptr, 0, nullptr, 0},
};

const RequestRow* find_request(std::uint32_t number) {
  for (const RequestRow* row = message_catalogue; row->name != nullptr; ++row) {
    if (row->number == number) return row;
  }
  return nullptr;
}

const ResponseRow* find_response(const ResponseRow* table, std::uint32_t number) {
  for (const ResponseRow* row = table; row->deliver != nullptr; ++row) {
    if (row->number == number) return row;
  }
  return nullptr;
}

namespace {

struct NamedCode {
  std::uint32_t code;
  const char* text;
};

const NamedCode fcp_object_names[] = {
    {1, "Auto Assign SCSI ID"}, {2, "Node Name"},         {3, "Node Status"},
    {4, "Class Preferences"},   {5, "Send Operations"},   {6, "Receive Operations"},
    {7, "Send Bytes"},          {8, "Receive Bytes"},     {9, "Send Errors"},
    {10, "Receive Errors"},     {11, "Send Discards"},    {12, "Receive Discards"},
    {13, "Service Class"},      {14, "Target ID"},        {15, "Target Blocking"},
    {16, "Description"},        {17, "Number of LUNs"},   {18, "SCSI Type"},
    {19, "SCSI II Number"},     {20, "SCSI III Address"}, {0, nullptr},
};

const NamedCode fcp_status_texts[] = {
    {1, "Operation Successful"}, {2, "Operation failed"}, {3, "Driver busy"},
    {4, "Operation pending"},    {5, "Fatal Error"},      {0, nullptr},
};

const char* lookup(const NamedCode* table, std::uint32_t code, const char* other) {
  for (const NamedCode* row = table; row->text != nullptr; ++row) {
    if (row->code == code) return row->text;
  }
  return other;
}

}  // namespace

// The LXS object message reads its own status (0 and 1 are success there).
const StatusWord status_words[] = {
    {response_number(FCPH_GET_PORT_SPEED), response_number(FCPH_GET_FC_ADDRESS), 16, false},
    {response_number(LXS_GET_ADAPTER_COUNT), response_number(LXS_GET_ADAPTER_COUNT),
     sif::kCountStatus, true},
    {response_number(LXS_GET_ADAPTER_NAME), response_number(LXS_GET_ADAPTER_NAME), sif::kNameStatus,
     true},
    {response_number(LXS_GET_FCP_MANUAL_ID), response_number(LXS_SET_REMNODE_BLOCKED), 252, false},
    {response_number(HPD_LTX_ADAPTER_INFO), response_number(HPD_LTX_ADAPTER_INFO), 508, false},
    {response_number(HPD_LTX_DUPLEX_STATUS), response_number(HPD_LTX_ADAPTER_PORTWWN), 252, false},
    {0, 0, 0, false},
};

const StatusWord* find_status_word(std::uint32_t response) {
  for (const StatusWord* row = status_words; row->offset != 0; ++row) {
    if (response >= row->first && response <= row->last) return row;
  }
  return nullptr;
}

void status_error_text(std::uint32_t response, std::uint32_t status, char* out, std::size_t cap) {
  static const NamedCode texts[] = {
      {kStatusUnknown, "No such adapter, port, node or index"},
      {kStatusNotAvailable, "Not available"},
      {kStatusNotSupported, "Not supported"},
      {0, nullptr},
  };
  const StatusWord* word = find_status_word(response);
  std::uint32_t request = (response & kResponseBit) != 0 ? response & ~kResponseBit : response - 1;
  const RequestRow* row = find_request(request);
  const char* text = lookup(word != nullptr && word->lxs_codes ? fcp_status_texts : texts, status,
                            "Unknown status");
  std::snprintf(out, cap, "%s %s: %s", "Error: ", row != nullptr ? row->name : "Unknown request",
                text);
}

void fcp_error_text(std::uint32_t object_id, std::uint32_t status, char* out, std::size_t cap) {
  // A failed write names its object too.
  const char* object = lookup(fcp_object_names, object_id & ~lxs::kWriteBit, "Unknown object");
  std::snprintf(out, cap, "%s %s: %s", "Error: ", object,
                lookup(fcp_status_texts, status, "Unknown status"));
}

}  // namespace tavro
