// Objects answered without asking the driver: fixed texts, the host
// description and the daemon's own clock.
#include <cstdio>
#include <cstring>

#include "base/revision.h"
#include "objects/driver_request.h"
#include "objects/handlers.h"
#include "objects/host_description.h"
#include "platform/system_info.h"

namespace tavro {
namespace {

struct LocalValue {
  const char* oid;
  const char* text;
};

constexpr LocalValue local_values[] = {
    {"1.2.0", revision_text}, {"2.13.0", revision_text},
    {"2.8.0", "Host system"}, {"2.9.0", "Halcyone 2.0"},
    {"3.5.1.2", "HBA"},       {"4.3.1.4", "HBA"},
    {"3.5.1.4", "2"},         {"3.5.1.6", "1"},
    {"3.5.1.12", "1"},        {"4.3.1.5", "Quellstone Corporation"},
    {nullptr, nullptr},
};

int reply_formatted(ObjectCall& call, const char* format, long long value) {
  std::snprintf(call.text, call.cap, format, value);
  return object_reply(call, call.text);
}

}  // namespace

int qdn_local_value(ObjectCall& call, const oid_entry& row) {
  for (const LocalValue* v = local_values; v->oid != nullptr; ++v) {
    if (std::strcmp(v->oid, row.oid) == 0) return object_reply(call, v->text);
  }
  return reply_not_supported(call, call.text);
}

int qdn_host_vendor(ObjectCall& call, const oid_entry&) {
  platform::OsVersion version = platform::read_os_version();
  return object_reply(call, host_vendor(version));
}

int qdn_os_text(ObjectCall& call, const oid_entry&) {
  platform::OsVersion version = platform::read_os_version();
  os_description(version, call.text, call.cap);
  return object_reply(call, call.text);
}

int qdn_processor(ObjectCall& call, const oid_entry&) {
  platform::ProcessorInfo info = platform::read_processor_info();
  std::uint32_t mhz = 0;
  bool known = platform::read_clock_mhz(&mhz);
  processor_description(info, known, mhz, call.text, call.cap);
  return object_reply(call, call.text);
}

int qdn_processor_count(ObjectCall& call, const oid_entry&) {
  return reply_formatted(call, "%lld", platform::read_processor_info().count);
}

int qdn_uptime(ObjectCall& call, const oid_entry&) {
  return reply_formatted(call, "%lld", object_uptime_ms(call.services));
}

int qdn_accept_write(ObjectCall& call, const oid_entry&) {
  return object_reply(call, "0");
}

int qdn_channel_ready(ObjectCall& call, const oid_entry&) {
  return object_reply(call, call.services.channel.channel_open() ? "1" : "0");
}

}  // namespace tavro
