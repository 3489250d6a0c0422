// The driver message library's interface, as the programs use it. The
// library is loaded at run time by name ("QFCMsgLib" -> libQFCMsgLib.so) and
// its functions are looked up by these names.
#pragma once

#include <cstdint>
#include <cstring>

extern "C" {

// kind 86 reports a driver error: message is then a 32-bit error value carried
// in the pointer, not a message. Any other kind delivers a message that the
// handler must release with q_msg_free.
using q_msg_handler_fn = void (*)(int kind, void* message);

using q_msg_init_fn = unsigned char (*)();
using q_register_msg_handler_fn = int (*)(std::uint32_t handle, const char* name, int zero,
                                          q_msg_handler_fn handler);
using q_deregister_msg_handler_fn = void (*)(std::uint32_t handle);
using q_msg_alloc_fn = void* (*)(std::uint32_t size, std::uint32_t size_again, int zero);
using q_send_msg_by_name_fn = void (*)(const char* destination, std::uint32_t handle,
                                       std::uint32_t number, void* data);
using q_msg_free_fn = void (*)(void* message);
using q_msg_done_fn = void (*)();

}  // extern "C"

namespace qfc {

inline constexpr int kDriverErrorKind = 86;
inline constexpr int kRegistered = 1;

// Header fields of a delivered message that the programs read.
inline constexpr std::size_t kNumberOffset = 80;
inline constexpr std::size_t kDataOffset = 84;
// Size of the header up to and including the data pointer.
inline constexpr std::size_t kHeaderSize = kDataOffset + sizeof(void*);

inline std::uint32_t message_number(const void* message) {
  std::uint32_t number;
  std::memcpy(&number, static_cast<const char*>(message) + kNumberOffset, sizeof number);
  return number;
}

// The data pointer sits unaligned at offset 84: read it byte-wise.
inline void* message_data(const void* message) {
  void* data;
  std::memcpy(&data, static_cast<const char*>(message) + kDataOffset, sizeof data);
  return data;
}

inline std::uint32_t driver_error_value(const void* message) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(message));
}

}  // namespace qfc
