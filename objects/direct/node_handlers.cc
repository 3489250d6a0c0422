// The direct-object handlers of nodes and driver settings.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "objects/direct/direct_handlers.h"

namespace tavro {
namespace {

constexpr std::size_t kNodeEntryArea = 512;
constexpr std::size_t kInquiryText = 28;   // vendor, product and revision
constexpr std::size_t kInquiryOffset = 8;  // where standard INQUIRY data holds them
constexpr const char* kNonScsi = "Non-SCSI Device";

struct NodeList {
  std::unique_ptr<fcdi_node[]> nodes = std::make_unique<fcdi_node[]>(kMaxNodes);
  std::uint32_t count = 0;
};

int read_nodes(DirectCall& call, int adapter, NodeList& list) {
  return call.direct.nodes(call.direct.handle(adapter), list.nodes.get(), &list.count);
}

// The node number in decimal; 0 when there are no digits. Numbers past any
// node list stay past it.
std::uint32_t node_number(const char* text) {
  std::uint32_t number = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    number = number > kMaxNodes ? number : number * 10 + static_cast<std::uint32_t>(*text - '0');
  }
  return number;
}

void node_value_name(const fcdi_node& node, char* out, std::size_t cap) {
  std::snprintf(out, cap, "%08x%08x", node.word(8), node.word(12));
}

// The INQUIRY text of a node, or "?" characters when the command failed.
std::string inquiry_text(DirectCall& call, int adapter, const fcdi_node& node) {
  std::uint8_t data[kNodeEntryArea] = {};
  fcdi_scsi_request request{&node, data, sizeof data, {0x12, 0, 0, 0, 0xFF, 0}, 6, 0, {0, 0}};
  if (call.direct.scsi_command(call.direct.handle(adapter), request) != kFcOk) {
    return std::string(kInquiryText + 1, '?');
  }
  const std::uint8_t* text = data + kInquiryOffset;
  std::size_t n = 0;
  while (n < kInquiryText && text[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(text), n);
}

// Splits "name:unused:value" (each field ended by ":" or, the last, by the end).
bool split_node_write(const char* text, std::string& name, std::string& value) {
  const char* first = std::strchr(text, ':');
  if (first == nullptr) return false;
  const char* second = std::strchr(first + 1, ':');
  if (second == nullptr) return false;
  const char* end = std::strchr(second + 1, ':');
  name.assign(text, first);
  value.assign(second + 1, end == nullptr ? second + 1 + std::strlen(second + 1) : end);
  return !value.empty();
}

}  // namespace

int fcdi_node_count(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  NodeList list;
  int status = read_nodes(call, adapter, list);
  if (status != kFcOk) return fcdi_fail(call, "fcdiGetNodes", status);
  std::snprintf(call.text, call.cap, "%d", static_cast<int>(list.count));
  return fcdi_reply(call, call.text);
}

int fcdi_node_state(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  NodeList list;
  int state = read_nodes(call, adapter, list) != kFcOk ? 3 : list.count > 0 ? 2 : 1;
  std::snprintf(call.text, call.cap, "%d", state);
  return fcdi_reply(call, call.text);
}

int fc_get_node(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  std::uint32_t number = node_number(call.text);
  if (number == 0) return fcdi_reply(call, "Error: fc_get_node() Invalid Node");
  NodeList list;
  int status = read_nodes(call, adapter, list);
  if (status != kFcOk) return fcdi_fail(call, "fcdiGetNodes", status);
  if (number > list.count) return fcdi_reply(call, "");
  const fcdi_node& node = list.nodes[number - 1];
  char name[20];
  node_value_name(node, name, sizeof name);
  std::uint32_t value = 0;
  if (call.direct.node_value(adapter, name, &value) != kFcOk) value = 0;
  std::memset(call.text, 0, kNodeEntryArea < call.cap ? kNodeEntryArea : call.cap);
  std::string inquiry = inquiry_text(call, adapter, node);
  if (!inquiry.empty() && inquiry[0] == '?') inquiry = kNonScsi;
  std::snprintf(call.text, call.cap, "%s:%08x:%08x:%s", name, node.word(4), value, inquiry.c_str());
  return fcdi_reply(call, call.text);
}

int fcdi_set_node(DirectCall& call, const fcdi_oid_entry&, int adapter) {
  std::string name, value;
  int status = split_node_write(call.text, name, value)
                   ? call.direct.set_node(adapter, name.c_str(), value.c_str())
                   : kFcInvalid;
  if (status != kFcOk) return fcdi_fail(call, "fcdiSetNode", status);
  return fcdi_reply(call, "OK");
}

int fcdi_settings(DirectCall& call, const fcdi_oid_entry& row, int adapter) {
  std::uint32_t values[kSettingCount] = {};
  int status = call.direct.settings(adapter, values);
  if (status != kFcOk) {
    char reply[96];
    std::snprintf(reply, sizeof reply, "%sfc_settings(%d) %s", "Error: ", status,
                  fc_status_text(status).text);
    return fcdi_reply(call, reply);
  }
  auto index = static_cast<std::size_t>(row.offset) / sizeof values[0];
  std::snprintf(call.text, call.cap, "%u", index < kSettingCount ? values[index] : 0);
  return fcdi_reply(call, call.text);
}

int fcdi_set_key(DirectCall& call, const fcdi_oid_entry& row, int adapter) {
  int status = call.direct.set_key(adapter, row.setting, call.text);
  if (status != kFcOk) return fcdi_fail(call, "fcdiSetKey", status);
  return fcdi_reply(call, "OK");
}

}  // namespace tavro
