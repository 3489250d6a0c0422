#include "objects/fc_commands.h"

#include <cstdio>
#include <cstring>

#include "base/diag.h"
#include "base/message.h"
#include "eventlog/request_log.h"
#include "hbaapi_bridge/hbaapi.h"
#include "objects/direct/direct_handlers.h"
#include "objects/driver_request.h"
#include "objects/handlers.h"
#include "objects/oid_table.h"
#include "objects/qdn_oid.h"

namespace tavro {
namespace {

// How each command is traced and noted on its way in.
struct Command {
  const char* prefix;
  const char* trace_format;
  std::uint32_t bit;  // the Debug bit of its trace and the LogFlags bit of its note
};
constexpr Command kGet{"FCGET ", "%s(%d)%s\n", 0x10000};
constexpr Command kSet{"FCSET ", "%s(%d) %s\n", 0x20000};
constexpr const char* kHbaApiBranch = ".1.3.6.1.4.1.48217.4.";
constexpr const char* kDirectBranch = ".1.3.6.1.4.1.48217.2.";
constexpr const char* kAdapterDescription = ".1.3.6.1.4.1.48217.1.1.0";
constexpr const char* kDaemonScalar = ".1.3.6.1.4.1.48217.1.2.0";

constexpr std::uint32_t kReplyTrace = 0x40000;

bool begins_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Replies on the daemon's connection.
class SocketReply final : public ReplySink {
 public:
  SocketReply(const Diag& diag, platform::socket_t connection)
      : diag_(diag), connection_(connection) {}
  int reply(const char* text) override { return fc_reply(diag_, connection_, text); }

 private:
  const Diag& diag_;
  platform::socket_t connection_;
};

// Traces and notes a request. Returns the OID text that follows the command
// word, or null when the command is disabled and has been refused.
const char* admitted(ObjectServices& services, platform::socket_t connection, const char* message,
                     const Command& command, std::uint32_t count, std::int32_t enable) {
  const char* oid = message + std::strlen(command.prefix);
  if (services.diag.on(command.bit)) {
    services.diag.print(command.trace_format, command.prefix, static_cast<int>(count), oid);
  }
  if (services.requests != nullptr &&
      (static_cast<std::uint32_t>(services.requests->flags()) & command.bit) != 0) {
    services.requests->note_request(connection, message);
  }
  if (enable == 0) return oid;
  char reply[64];
  std::snprintf(reply, sizeof reply, "%s%s disabled", "Error: ", command.prefix);
  fc_reply(services.diag, connection, reply);
  return nullptr;
}

}  // namespace

int fc_reply(const Diag& diag, platform::socket_t connection, const char* text) {
  if (diag.on(kReplyTrace)) diag.print("FCREPLY() %s\n", text);
  std::size_t length = std::strlen(text);
  if (length == 0) length = 1;  // the terminator itself
  ssize_t sent = platform::send_bytes(connection, text, length);
  if (sent < 0 || static_cast<std::size_t>(sent) < length) {
    diag.report_error("FCREPLY(send()) ERROR:");
    return 1;
  }
  return 0;
}

int FcCommands::fcget(platform::socket_t connection, const char* message) {
  ++get_count_;
  const char* oid = admitted(services_, connection, message, kGet, get_count_, get_enable_);
  if (oid == nullptr) return 0;
  SocketReply sink(services_.diag, connection);
  if (begins_with(oid, kAgentBranch)) {
    return qdn_oid(services_, sink, connection, oid, kAgentBranch, oid_get_table);
  }
  if (begins_with(oid, kHbaApiBranch) && hbaapi_ != nullptr) {
    return hbaapi_->request(connection, oid + std::strlen(kHbaApiBranch));
  }
  char buffer[kMessageSize + 1] = "";
  ObjectCall call{services_, sink, connection, buffer, sizeof buffer};
  if (begins_with(oid, kHbaApiBranch)) {
    return reply_no_such_member(call, oid + std::strlen(kHbaApiBranch));
  }
  if (begins_with(oid, kDirectBranch)) return direct(sink, call, oid, fcdi_get_table, kFcdiRead);
  return get_scalar(call, message, oid);
}

int FcCommands::get_scalar(ObjectCall& call, const char* message, const char* oid) {
  if (std::strcmp(oid, kAdapterDescription) == 0) {
    if (direct_ != nullptr) {
      direct_->open_all();
      if (direct_->opened()) return fcdi_adapter_description(*direct_, call.sink);
    }
    services_.channel.qdn_open();
    if (services_.channel.channel_open()) return reply_not_supported(call, "");
    return reply_no_such_member(call, oid);
  }
  if (std::strcmp(oid, kDaemonScalar) == 0) return object_reply(call, "N/A");
  return reply_no_such_member(call, message);
}

int FcCommands::fcset(platform::socket_t connection, const char* message) {
  ++set_count_;
  const char* oid = admitted(services_, connection, message, kSet, set_count_, set_enable_);
  if (oid == nullptr) return 0;
  SocketReply sink(services_.diag, connection);
  if (begins_with(oid, kAgentBranch)) {
    return qdn_oid(services_, sink, connection, oid, kAgentBranch, oid_set_table);
  }
  char buffer[kMessageSize + 1];
  ObjectCall call{services_, sink, connection, buffer, sizeof buffer};
  if (begins_with(oid, kDirectBranch)) return direct(sink, call, oid, fcdi_set_table, kFcdiWrite);
  return reply_no_such_member(call, message);
}

int FcCommands::direct(ReplySink& sink, ObjectCall& call, const char* oid,
                       const fcdi_oid_entry* table, int mode) {
  const char* text = oid + std::strlen(kDirectBranch);
  if (direct_ == nullptr) return reply_no_such_member(call, text);
  return fcdi_lookup(*direct_, sink, text, table, mode);
}

int FcCommands::format_get_stats(char* out, std::size_t cap) const {
  return std::snprintf(out, cap, "%s;%d", kGet.prefix, static_cast<int>(get_count_));
}

int FcCommands::format_set_stats(char* out, std::size_t cap) const {
  return std::snprintf(out, cap, "%s;%d", kSet.prefix, static_cast<int>(set_count_));
}

}  // namespace tavro
