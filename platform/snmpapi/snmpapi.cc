// libsnmpapi.so: the helpers that extension agents and their host share, so
// that memory one side allocates the other can free.
#include <cstdlib>
#include <cstring>

#include "platform/snmp_extension.h"

extern "C" {

int SnmpUtilOidCpy(snmp_oid* dst, const snmp_oid* src) {
  if (dst == nullptr) return 0;
  dst->idLength = 0;
  dst->ids = nullptr;
  if (src == nullptr || src->idLength == 0 || src->ids == nullptr) return 1;
  auto* ids = static_cast<std::uint32_t*>(std::calloc(src->idLength, sizeof(std::uint32_t)));
  if (ids == nullptr) return 0;
  std::memcpy(ids, src->ids, src->idLength * sizeof(std::uint32_t));
  dst->ids = ids;
  dst->idLength = src->idLength;
  return 1;
}

void SnmpUtilOidFree(snmp_oid* oid) {
  if (oid == nullptr) return;
  std::free(oid->ids);
  oid->ids = nullptr;
  oid->idLength = 0;
}

void* SnmpUtilMemAlloc(std::uint32_t size) {
  return std::calloc(1, size == 0 ? 1 : size);
}

void SnmpUtilMemFree(void* memory) {
  std::free(memory);
}

}  // extern "C"
