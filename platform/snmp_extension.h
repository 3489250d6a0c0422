// Stand-in for the SNMP extension-agent interface: the types an extension
// agent exchanges with the SNMP service, and the snmpapi helpers that agents
// and the service share (libsnmpapi.so). Plain C layout, so that an agent
// library and its host agree on it.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// An object identifier: idLength sub-identifiers of 32 bits each.
struct snmp_oid {
  std::uint32_t idLength;
  std::uint32_t* ids;
};

struct snmp_octets {
  std::uint8_t* stream;
  std::uint32_t length;
  int dynamic;  // non-zero: the service frees stream with SnmpUtilMemFree
};

// A value: the ASN type byte and the union its type selects.
struct snmp_value {
  std::uint8_t asnType;
  union {
    std::int32_t number;       // INTEGER
    std::uint32_t unsigned32;  // Counter, Gauge, TimeTicks
    snmp_octets string;        // OCTET STRING, IpAddress, Opaque, SEQUENCE
    snmp_oid object;           // OBJECT IDENTIFIER
  } asnValue;
};

struct snmp_varbind {
  snmp_oid name;
  snmp_value value;
};

struct snmp_varbind_list {
  snmp_varbind* list;
  std::uint32_t len;
};

// The library's four exports, as the service looks them up by name.
using snmp_extension_init_fn = int (*)(std::uint32_t time_zero, void** trap_event,
                                       snmp_oid* supported_view);
using snmp_extension_init_ex_fn = int (*)(snmp_oid* supported_view);
using snmp_extension_query_fn = int (*)(std::uint8_t request_type, snmp_varbind_list* bindings,
                                        std::int32_t* error_status, std::int32_t* error_index);
using snmp_extension_trap_fn = int (*)(snmp_oid* enterprise, std::int32_t* generic_trap,
                                       std::int32_t* specific_trap, std::uint32_t* time_stamp,
                                       snmp_varbind_list* bindings);
// Optional export of the tavro agents: the milliseconds the next query may
// take. What is not answered by then is answered genErr.
using snmp_extension_budget_fn = void (*)(std::uint32_t milliseconds);

// snmpapi. SnmpUtilOidCpy returns 1, or 0 (dst left empty) when no memory.
int SnmpUtilOidCpy(snmp_oid* dst, const snmp_oid* src);
void SnmpUtilOidFree(snmp_oid* oid);
void* SnmpUtilMemAlloc(std::uint32_t size);  // zero-filled, or null
void SnmpUtilMemFree(void* memory);

}  // extern "C"

namespace snmp {

// ASN type bytes.
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kObjectIdentifier = 0x06;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kIpAddress = 0x40;
inline constexpr std::uint8_t kCounter = 0x41;
inline constexpr std::uint8_t kGauge = 0x42;
inline constexpr std::uint8_t kTimeTicks = 0x43;
inline constexpr std::uint8_t kOpaque = 0x44;
// A binding answered noSuchName whose object exists but not this instance
// carries this SNMPv2 exception type as its value.
inline constexpr std::uint8_t kNoSuchInstance = 0x81;

// Request types.
inline constexpr std::uint8_t kGet = 0xA0;
inline constexpr std::uint8_t kGetNext = 0xA1;
inline constexpr std::uint8_t kSet = 0xA3;

// Error statuses.
inline constexpr std::int32_t kNoError = 0;
inline constexpr std::int32_t kTooBig = 1;
inline constexpr std::int32_t kNoSuchName = 2;
inline constexpr std::int32_t kBadValue = 3;
inline constexpr std::int32_t kReadOnly = 4;
inline constexpr std::int32_t kGenErr = 5;
// SNMPv2 write errors.
inline constexpr std::int32_t kWrongType = 7;
inline constexpr std::int32_t kWrongLength = 8;
inline constexpr std::int32_t kWrongValue = 10;

}  // namespace snmp
