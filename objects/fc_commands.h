// The FCGET and FCSET commands: read or write one private management object
// per connection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "objects/object_call.h"
#include "platform/net.h"

namespace tavro {

class HbaApi;

// Sends a reply on a connection without its terminator; an empty text goes
// out as one zero byte. Returns 0, or 1 when the send fell short.
int fc_reply(const Diag& diag, platform::socket_t connection, const char* text);

class DirectAccess;
struct fcdi_oid_entry;

class FcCommands {
 public:
  // The enable settings hold 0 when the command is enabled. Without direct
  // access the direct objects and the adapter description are not served;
  // hbaapi serves the HBA API branch of FCGET (none: "No such member").
  FcCommands(ObjectServices& services, const std::int32_t& get_enable,
             const std::int32_t& set_enable, DirectAccess* direct = nullptr,
             HbaApi* hbaapi = nullptr)
      : services_(services),
        get_enable_(get_enable),
        set_enable_(set_enable),
        direct_(direct),
        hbaapi_(hbaapi) {}

  // message is the whole request text, "FCGET " or "FCSET " included.
  int fcget(platform::socket_t connection, const char* message);
  int fcset(platform::socket_t connection, const char* message);

  // "FCGET ;<count>" and "FCSET ;<count>" for STATS.
  int format_get_stats(char* out, std::size_t cap) const;
  int format_set_stats(char* out, std::size_t cap) const;

  std::uint32_t get_count() const { return get_count_; }
  std::uint32_t set_count() const { return set_count_; }

 private:
  int get_scalar(ObjectCall& call, const char* message, const char* oid);
  int direct(ReplySink& sink, ObjectCall& call, const char* oid, const fcdi_oid_entry* table,
             int mode);

  ObjectServices& services_;
  const std::int32_t& get_enable_;
  const std::int32_t& set_enable_;
  DirectAccess* direct_;
  HbaApi* hbaapi_;
  std::uint32_t get_count_ = 0;
  std::uint32_t set_count_ = 0;
};

}  // namespace tavro
