// Adapter discovery: the adapter count, each adapter's name by index, and per
// adapter name its port count, bus name, model, bus and slot, port WWN and
// duplex status.
//
// Each operation takes the request's instance text in text (a buffer of cap
// bytes), writes its reply text over it and returns how the request ended;
// the caller sends the reply. The first component of the instance is the
// text up to the first '.', blank or end.
#pragma once

#include <cstddef>

#include "channel/channel.h"

namespace tavro {

Transaction adapter_count(Channel& channel, char* text, std::size_t cap);
// The first component is the adapter index (decimal).
Transaction adapter_name(Channel& channel, char* text, std::size_t cap);
// The first component is the adapter name; code 1 port count, 2 bus name, 3 model.
Transaction qdn_get_adapt_info(Channel& channel, char* text, std::size_t cap, int code);
Transaction qdn_get_adapt_port(Channel& channel, char* text, std::size_t cap);
Transaction duplex_status(Channel& channel, char* text, std::size_t cap);
// "Bus <b>, Slot <s>" read from the adapter name in text; nothing is sent.
void bus_and_slot(char* text, std::size_t cap);

}  // namespace tavro
