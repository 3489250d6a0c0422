// Requests to the driver on behalf of object handlers, over the channel's
// request transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/text.h"
#include "channel/catalogue.h"
#include "channel/channel.h"
#include "objects/handlers.h"
#include "objects/object_call.h"

namespace tavro {

// Runs one request transaction and replies its text: for a read the value
// the driver delivered, for a confirmed write the call's text as the handler
// received it, or the error text of the transaction or of a failed write. fill(data) writes the
// request fields; returning false refuses the request after writing its reply into the call's text.
template <typename Fill>
int ask_driver(ObjectCall& call, const Outgoing& out, Fill&& fill) {
  call.services.channel.transact(out, call.text, call.cap, fill);
  return object_reply(call, call.text);
}

// True when the driver answers the FCPH query (the WWN its argument) that
// there is no such port or node; the call's text then holds that error.
bool driver_knows_no(ObjectCall& call, std::uint32_t query, const char* wwn);

// 16 hexadecimal digits as the 8 bytes of a WWN.
inline void put_wwn_text(std::uint8_t* data, std::size_t offset, const char* digits) {
  hex_to_wwn(digits, data + offset);
}

// Copies text with its terminator into room bytes, cutting it to fit.
inline void put_text(std::uint8_t* data, std::size_t offset, std::size_t room, const char* text) {
  if (room == 0) return;
  std::size_t n = std::strlen(text);
  if (n > room - 1) n = room - 1;
  std::memcpy(data + offset, text, n);
  data[offset + n] = 0;
}

}  // namespace tavro
