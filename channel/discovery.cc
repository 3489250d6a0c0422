#include "channel/discovery.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diag.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTraceOpen = 0x80000;
constexpr std::size_t kNameMax = 64;

// The text up to the first '.', blank or end, cut to fit out.
void first_component(const char* text, char (&out)[kNameMax]) {
  std::size_t length = 0;
  while (text[length] != '\0' && text[length] != '.' && text[length] != ' ' &&
         length + 1 < sizeof out) {
    ++length;
  }
  std::memcpy(out, text, length);
  out[length] = '\0';
}

// The request identifier at offset 0, the only field of these requests.
Transaction stamped(Channel& channel, const char* destination, std::uint32_t number,
                    std::uint32_t size, char* text, std::size_t cap, const char* trace) {
  return channel.transact({destination, number, size}, text, cap, [&](std::uint8_t* data) {
    write_u32(data, 0, channel.next_request_id());
    if (trace != nullptr && channel.diag().on(kTraceOpen)) channel.diag().print("%s", trace);
    return true;
  });
}

}  // namespace

Transaction adapter_count(Channel& channel, char* text, std::size_t cap) {
  return stamped(channel, kSifDestination, LXS_GET_ADAPTER_COUNT, sif::kListSize, text, cap,
                 "sending LXS_GET_ADAPTER_COUNT msg\n");
}

Transaction adapter_name(Channel& channel, char* text, std::size_t cap) {
  char index_text[kNameMax];
  first_component(text, index_text);
  int index = std::atoi(index_text);
  // One destination per index 0 to 7: no other index names an adapter.
  bool known = index >= 0 && index <= 7;
  char destination[16];
  std::snprintf(destination, sizeof destination, "%s", kSifDestination);
  destination[kSifDigit] = static_cast<char>('0' + (known ? index : 0));
  return channel.transact(
      {destination, LXS_GET_ADAPTER_NAME, sif::kListSize}, text, cap, [&](std::uint8_t* data) {
        if (!known) {
          status_error_text(response_number(LXS_GET_ADAPTER_NAME), kStatusUnknown, text, cap);
          return false;
        }
        write_u32(data, sif::kRequestId, channel.next_request_id());
        write_u32(data, sif::kAdapterIndex, static_cast<std::uint32_t>(index));
        if (channel.diag().on(kTraceOpen)) {
          channel.diag().print("sending LXS_GET_ADAPTER_NAME msg\n");
        }
        return true;
      });
}

Transaction qdn_get_adapt_info(Channel& channel, char* text, std::size_t cap, int code) {
  char name[kNameMax];
  first_component(text, name);
  return channel.transact(
      {name, HPD_LTX_ADAPTER_INFO, hpd::kInfoSize}, text, cap, [&](std::uint8_t* data) {
        write_u32(data, hpd::kInfoCode, static_cast<std::uint32_t>(code));
        if (channel.diag().on(kTraceOpen)) {
          channel.diag().print("qdn_get_adapt_info: adapt_name = %s\n", name);
          channel.diag().print("qdn_get_adapt_info: hpd_info_msg->req_id = %d\n", code);
        }
        return true;
      });
}

Transaction qdn_get_adapt_port(Channel& channel, char* text, std::size_t cap) {
  char name[kNameMax];
  first_component(text, name);
  if (channel.diag().on(kTraceOpen)) {
    channel.diag().print("qdn_get_adapt_port: adapt_name = %s\n", name);
  }
  return stamped(channel, name, HPD_LTX_ADAPTER_PORTWWN, hpd::kSize, text, cap, nullptr);
}

Transaction duplex_status(Channel& channel, char* text, std::size_t cap) {
  char name[kNameMax];
  first_component(text, name);
  return stamped(channel, name, HPD_LTX_DUPLEX_STATUS, hpd::kSize, text, cap, nullptr);
}

void bus_and_slot(char* text, std::size_t cap) {
  char name[kNameMax];
  std::snprintf(name, sizeof name, "%s", text);
  auto cut = [](char* part) {
    if (char* slash = std::strchr(part, '/')) *slash = '\0';
    return part;
  };
  char* bus = std::strstr(name, "pci");
  if (bus == nullptr) {
    std::snprintf(text, cap, "Bus ?, Slot ?");
    return;
  }
  bus += 3;
  if (char* dev = std::strstr(bus, "dev")) {
    *dev = '\0';
    char* slot = dev + 3;
    std::snprintf(text, cap, "Bus %s, Slot %s", cut(bus), cut(slot));
  } else {
    std::snprintf(text, cap, "Bus %s, Slot ?", cut(bus));
  }
}

}  // namespace tavro
