#include "objects/direct/direct_access.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/diag.h"

namespace tavro {
namespace {

constexpr std::uint32_t kOpenTrace = 0x80000;
constexpr const char* kServiceKey = "System\\CurrentControlSet\\Services\\qv781s\\qv781s";
constexpr const char* kNodeSubkey = "\\Devices";

constexpr const char* kStatusTexts[] = {"FC No error",  "FC Invalid",  "FC No adapter",
                                        "FC No memory", "FC IO error", "FC No Key",
                                        "FC Not Open",  "FC NotYet"};

int registry_status(platform::RegResult result, bool writing) {
  switch (result) {
    case platform::RegResult::kOk:
      return kFcOk;
    case platform::RegResult::kRootFailed:
      return kFcRegistryRoot;
    case platform::RegResult::kKeyFailed:
      return kFcRegistryKey;
    case platform::RegResult::kNoValue:
      return writing ? kFcIoError : kFcNoKey;
    case platform::RegResult::kBadName:
      return kFcInvalid;
    case platform::RegResult::kIoFailed:
      break;
  }
  return kFcIoError;
}

void swap_bytes(std::uint8_t* bytes, std::size_t a, std::size_t b) {
  std::uint8_t t = bytes[a];
  bytes[a] = bytes[b];
  bytes[b] = t;
}

// The driver keeps parts of the serial EEPROM in another byte order.
void reorder_eeprom(std::uint8_t* e) {
  for (std::size_t word : {16, 20, 24, 28}) {
    swap_bytes(e, word, word + 2);
    swap_bytes(e, word + 1, word + 3);
  }
  for (std::size_t unit = 64; unit < 80; unit += 2) swap_bytes(e, unit, unit + 1);
  swap_bytes(e, 80, 83);
  swap_bytes(e, 81, 82);
  for (std::size_t unit : {114, 116, 118}) swap_bytes(e, unit, unit + 1);
}

// Each 4-byte group of the two WWNs comes reversed.
void reorder_wwns(std::uint8_t* w) {
  for (std::size_t group = 0; group < kWwnRecordSize; group += 4) {
    swap_bytes(w, group, group + 3);
    swap_bytes(w, group + 1, group + 2);
  }
}

}  // namespace

FcStatusText fc_status_text(int status) {
  FcStatusText out{};
  if (status >= 0 && status <= kFcNotYet) {
    std::snprintf(out.text, sizeof out.text, "%s", kStatusTexts[status]);
  } else if (status == kFcRegistryRoot || status == kFcRegistryKey) {
    std::snprintf(out.text, sizeof out.text, "NT Registry error %d", status - 15);
  } else {
    std::snprintf(out.text, sizeof out.text, "FC unknown error %d", status);
  }
  return out;
}

std::uint32_t fcdi_node::word(std::size_t offset) const {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

bool parse_setting_value(const char* text, int base, std::uint32_t* value) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text < '0' || *text > '9') {
    bool hex_digit = base == 16 && std::strchr("abcdefABCDEF", *text) != nullptr && *text != 0;
    if (!hex_digit) return false;
  }
  errno = 0;
  char* end = nullptr;
  unsigned long long number = std::strtoull(text, &end, base);
  if (end == text || errno != 0 || number > UINT32_MAX) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != 0) return false;
  *value = static_cast<std::uint32_t>(number);
  return true;
}

void DirectAccess::open_all() {
  if (opened_) return;
  for (int slot = 0; slot < kAdapters; ++slot) {
    handles_[slot].reset();
    status_[slot] = open_next(handles_[slot]);
    if (status_[slot] == kFcOk) opened_ = true;
  }
  if (!diag_.on(kOpenTrace)) return;
  char line[128] = "FCOPEN()";
  std::size_t used = std::strlen(line);
  for (int slot = 0; slot < kAdapters; ++slot) {
    used += static_cast<std::size_t>(
        std::snprintf(line + used, sizeof line - used, " %d=%d", slot, status_[slot]));
  }
  diag_.print("%s\n", line);
}

int DirectAccess::open_next(std::unique_ptr<fcdi_handle>& slot) {
  if (cursor_ == 0) map_.fill(-1);
  while (cursor_ < kDeviceNumbers) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\qv781s%02X", cursor_);
    int error = 0;
    platform::device_t device = devices_.open(name, &error);
    if (device == platform::kNoDevice) {
      ++cursor_;
      continue;
    }
    slot.reset(new (std::nothrow) fcdi_handle);
    if (!slot) {
      devices_.close(device);
      return kFcNoMemory;
    }
    slot->magic = kHandleMagic;
    slot->flags = kHandleDeviceOpen;
    slot->device = device;
    if (diag_.on(kOpenTrace)) diag_.print("FCOPEN(%d) found 0x%x\n", adapter_count_, cursor_);
    map_[adapter_count_++] = cursor_++;
    return kFcOk;
  }
  return kFcNoAdapter;
}

void DirectAccess::close_all() {
  if (opened_) {
    for (auto& slot : handles_) {
      if (!slot) continue;
      if ((slot->flags & kHandleDeviceOpen) != 0) devices_.close(slot->device);
      slot->eeprom.reset();
      slot->magic = 0;
      slot->flags = 0;
      slot.reset();
    }
  }
  opened_ = false;
  // Probe again from the first device number, so that the devices reopen.
  cursor_ = 0;
  adapter_count_ = 0;
}

int DirectAccess::device_number(int index) const {
  if (index < 0 || index >= adapter_count_ || index >= kDeviceNumbers) return -1;
  return map_[index];
}

fcdi_handle* DirectAccess::handle(int index) {
  if (index < 0 || index >= kAdapters) return nullptr;
  return handles_[index].get();
}

int DirectAccess::check(const fcdi_handle* h) const {
  if (h == nullptr) return kFcNoAdapter;
  if (h->magic != kHandleMagic) return kFcInvalid;
  if ((h->flags & kHandleDeviceOpen) == 0) return kFcNotOpen;
  return kFcOk;
}

int DirectAccess::request(fcdi_handle* h, std::uint32_t code, const void* in, std::size_t in_size,
                          void* out, std::size_t out_size, int* system_error) {
  int status = check(h);
  if (status != kFcOk) return status;
  if (out == nullptr) return kFcInvalid;
  std::uint32_t returned = 0;
  int error = devices_.control(h->device, code, in, in_size, out, out_size, &returned);
  if (system_error != nullptr) *system_error = error;
  return error == 0 ? kFcOk : kFcIoError;
}

int DirectAccess::serial_eeprom(fcdi_handle* h, std::uint8_t* out) {
  int status = check(h);
  if (status != kFcOk) return status;
  if (out == nullptr) return kFcInvalid;
  if ((h->flags & kHandleEepromCached) == 0) {
    h->eeprom.reset(new (std::nothrow) std::uint8_t[kEepromSize]());
    if (!h->eeprom) return kFcNoMemory;
    if (request(h, kIoctlSerialEeprom, nullptr, 0, h->eeprom.get(), kEepromSize) != kFcOk) {
      h->eeprom.reset();
      return kFcIoError;
    }
    h->flags |= kHandleEepromCached;
    reorder_eeprom(h->eeprom.get());
  }
  std::memcpy(out, h->eeprom.get(), kEepromSize);
  return kFcOk;
}

int DirectAccess::wwn(fcdi_handle* h, std::uint8_t* out) {
  std::uint8_t record[kWwnRecordSize] = {};
  int status =
      request(h, kIoctlGetWwn, nullptr, 0, out == nullptr ? nullptr : record, sizeof record);
  if (status != kFcOk) return status;
  reorder_wwns(record);
  std::memcpy(out, record, sizeof record);
  return kFcOk;
}

int DirectAccess::nodes(fcdi_handle* h, fcdi_node* nodes, std::uint32_t* count) {
  if (nodes == nullptr || count == nullptr) return kFcInvalid;
  auto list = std::make_unique<std::uint8_t[]>(kNodeListSize);
  int status = request(h, kIoctlGetNodes, nullptr, 0, list.get(), kNodeListSize);
  if (status != kFcOk) return status;
  std::uint32_t n = 0;
  std::memcpy(&n, list.get(), sizeof n);
  // A count the buffer cannot hold is a broken answer.
  if (n > kMaxNodes) return kFcIoError;
  std::memcpy(nodes, list.get() + 4, n * kNodeRecordSize);
  *count = n;
  return kFcOk;
}

int DirectAccess::scsi_command(fcdi_handle* h, const fcdi_scsi_request& r) {
  if (r.node == nullptr || r.data == nullptr || r.command_length > sizeof r.command) {
    return kFcInvalid;
  }
  std::uint8_t block[kScsiControlSize] = {};
  std::uint32_t address = r.node->word(0);
  std::memcpy(block, &address, 4);
  std::memcpy(block + 4, r.command, 16);
  std::memcpy(block + 20, &r.command_length, 4);
  std::memcpy(block + 24, r.words, 8);
  int status = request(h, kIoctlScsiControl, nullptr, 0, block, sizeof block);
  if (status != kFcOk) return status;
  std::uint32_t code = (r.flags & 1) != 0 ? kIoctlScsiDataOut : kIoctlScsiDataIn;
  return request(h, code, nullptr, 0, r.data, r.data_length);
}

std::string DirectAccess::service_key(int index) const {
  char key[96];
  std::snprintf(key, sizeof key, "%s%02X", kServiceKey, device_number(index) & 0xFF);
  return key;
}

std::string DirectAccess::node_key(int index) const {
  char key[96];
  std::snprintf(key, sizeof key, "%s%02x%s", kServiceKey, device_number(index) & 0xFF, kNodeSubkey);
  return key;
}

int DirectAccess::settings(int index, std::uint32_t* values) {
  if (device_number(index) < 0) return kFcNoAdapter;
  std::string key = service_key(index);
  for (int i = 0; i < kSettingCount; ++i) {
    platform::RegResult result = registry_.read_dword(key.c_str(), kFcSettings[i].name, &values[i]);
    if (result == platform::RegResult::kNoValue) {
      values[i] = kFcSettings[i].fallback;
    } else if (result != platform::RegResult::kOk) {
      return registry_status(result, false);
    }
  }
  return kFcOk;
}

int DirectAccess::set_key(int index, const char* name, const char* text) {
  std::uint32_t value = 0;
  if (name == nullptr || !parse_setting_value(text, 0, &value)) return kFcInvalid;
  if (device_number(index) < 0) return kFcNoAdapter;
  return registry_status(registry_.write_dword(service_key(index).c_str(), name, value), true);
}

int DirectAccess::set_node(int index, const char* name, const char* text) {
  std::uint32_t value = 0;
  if (!parse_setting_value(text, 16, &value)) return kFcInvalid;
  if (device_number(index) < 0) return kFcNoAdapter;
  return registry_status(registry_.write_dword(node_key(index).c_str(), name, value), true);
}

int DirectAccess::node_value(int index, const char* name, std::uint32_t* value) {
  if (device_number(index) < 0) return kFcNoAdapter;
  return registry_status(registry_.read_dword(node_key(index).c_str(), name, value), false);
}

}  // namespace tavro
