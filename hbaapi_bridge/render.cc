#include "hbaapi_bridge/render.h"

#include <cstdio>
#include <cstring>

#include "base/diag.h"
#include "objects/value_format.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTrace = 0x400000;

// Value types of the fields, by their look.
constexpr std::uint8_t kInt = kValueSigned;
constexpr std::uint8_t kHex = kValueBytes;
constexpr std::uint8_t kText = kValueText;
constexpr std::uint8_t kX8 = kValueHex8;
constexpr std::uint8_t kX6 = kValueHex6;
constexpr std::uint8_t kI64 = kValueSigned64;

}  // namespace

// In the order of kHbaStructLetters.
const HbaStruct apistructs[kHbaStructCount] = {
    {{{"Manufacturer", 0, kText, 1},
      {"SerialNumber", 64, kText, 1},
      {"Model", 128, kText, 1},
      {"ModelDescription", 384, kText, 1},
      {"NodeWWN", 640, kHex, 8},
      {"NodeSymbolicName", 648, kText, 1},
      {"HardwareVersion", 904, kText, 1},
      {"DriverVersion", 1160, kText, 1},
      {"OptionROMVersion", 1416, kText, 1},
      {"FirmwareVersion", 1672, kText, 1},
      {"VendorSpecificID", 1928, kHex, 4},
      {"NumberOfPorts", 1932, kInt, 1},
      {"DriverName", 1936, kText, 1}}},
    {{{"NumberOfEntries", 0, kInt, 1},
      {"entry.type", 8, kHex, 4},
      {"entry.ScsiId.OSDeviceName", 12, kText, 1},
      {"entry.ScsiId.ScsiBusNumber", 268, kInt, 1},
      {"entry.ScsiId.ScsiTargetNumber", 272, kInt, 1},
      {"entry.ScsiId.ScsiOSLun", 276, kInt, 1},
      {"entry.FcpId.FcId", 280, kX6, 1},
      {"entry.FcpId.NodeWWN", 284, kHex, 8},
      {"entry.FcpId.PortWWN", 292, kHex, 8},
      {"entry.FcpId.FcpLun", 304, kHex, 8},
      {"entry.FcId", 312, kX6, 1}}},
    {{{"charptr", 0, kText, 1}}},
    {{{"EventCode", 0, kX8, 1}, {"Event", 4, kHex, 16}}},
    {{{"EventCode", 0, kX8, 1}, {"PortFcId", 4, kX6, 1}}},
    {{{"EventCode", 0, kX8, 1}, {"PortFcId", 4, kX6, 1}, {"NPortPage", 8, kX8, 1}}},
    {{{"EventCode", 0, kX8, 1}, {"PtyData", 4, kX8, 4}}},
    {{}},
    {{{"HBA_HANDLE", 0, kX8, 1}}},
    {{{"wwn", 0, kHex, 8},
      {"unittype", 8, kX8, 1},
      {"PortId", 12, kX8, 1},
      {"NumberOfAttachedNodes", 16, kInt, 1},
      {"IPVersion", 20, kHex, 2},
      {"UDPPort", 22, kHex, 2},
      {"IPAddress", 24, kHex, 16},
      {"TopologyDiscoveryFlags", 42, kHex, 2}}},
    {{{"HBA_UINT64", 0, kHex, 8}}},
    {{{"NumberOfEntries", 0, kInt, 1},
      {"entry.ScsiId.OSDeviceName", 8, kText, 1},
      {"entry.ScsiId.ScsiBusNumber", 264, kInt, 1},
      {"entry.ScsiId.ScsiTargetNumber", 268, kInt, 1},
      {"entry.ScsiId.ScsiOSLun", 272, kInt, 1},
      {"entry.FcpId.FcId", 280, kX6, 1},
      {"entry.FcpId.NodeWWN", 284, kHex, 8},
      {"entry.FcpId.PortWWN", 292, kHex, 8},
      {"entry.FcpId.FcpLun", 304, kHex, 8}}},
    {{}},
    {{{"NodeWWN", 0, kHex, 8},
      {"PortWWN", 8, kHex, 8},
      {"PortFcId", 16, kX6, 1},
      {"PortType", 20, kX8, 1},
      {"PortState", 24, kX8, 1},
      {"PortSupportedClassofService", 28, kX8, 1},
      {"PortSupportedFc4Types", 32, kHex, 32},
      {"PortActiveFc4Types", 64, kHex, 32},
      {"PortSymbolicName", 96, kText, 1},
      {"OSDeviceName", 352, kText, 1},
      {"PortSupportedSpeed", 608, kX8, 1},
      {"PortSpeed", 612, kX8, 1},
      {"PortMaxFrameSize", 616, kX8, 1},
      {"FabricName", 620, kHex, 8},
      {"NumberofDiscoveredPorts", 628, kInt, 1}}},
    {{{"BUFFER", 0, kHex, 64}}},
    {{{"HBA_STATUS", 0, kInt, 1}}},
    {{{"SecondsSinceLastReset", 0, kI64, 1},
      {"TxFrames", 8, kI64, 1},
      {"TxWords", 16, kI64, 1},
      {"RxFrames", 24, kI64, 1},
      {"RxWords", 32, kI64, 1},
      {"LIPCount", 40, kI64, 1},
      {"NOSCount", 48, kI64, 1},
      {"ErrorFrames", 56, kI64, 1},
      {"DumpedFrames", 64, kI64, 1},
      {"LinkFailureCount", 72, kI64, 1},
      {"LossOfSyncCount", 80, kI64, 1},
      {"LossOfSignalCount", 88, kI64, 1},
      {"PrimitiveSeqProtocolErrCount", 96, kI64, 1},
      {"InvalidTxWordCount", 104, kI64, 1},
      {"InvalidCRCCount", 112, kI64, 1}}},
    {{{"HBA_UINT32", 0, kX8, 1}}},
    {{{"HBA_UINT32", 0, kInt, 1}}},
    {{{"HBA_UINT8", 0, kHex, 1}}},
    {{{"HBA_WWN", 0, kHex, 8}}},
    {{{"HBA_WWNTYPE", 0, kHex, 4}}},
};

namespace {

int struct_index(char letter) {
  if (letter == '\0') return -1;
  const char* at = std::strchr(kHbaStructLetters, letter);
  return at == nullptr ? -1 : static_cast<int>(at - kHbaStructLetters);
}

// Appends text to out at *used, cut to what cap holds.
void append(char* out, std::size_t cap, std::size_t* used, const char* text) {
  if (cap == 0 || *used + 1 >= cap) return;
  std::size_t room = cap - *used - 1;
  std::size_t n = std::strlen(text);
  if (n > room) n = room;
  std::memcpy(out + *used, text, n);
  *used += n;
  out[*used] = '\0';
}

void render_field(const HbaField& field, const HbaOutput& output, char* text, std::size_t cap) {
  text[0] = '\0';
  if (field.offset >= output.size) return;
  const unsigned char* at = output.data + field.offset;
  const std::size_t room = output.size - field.offset;
  // A text runs to its terminator or to the end of the buffer.
  const int count = field.type == kText ? static_cast<int>(room) : field.count;
  format_value(text, cap, at, room, count, field.type);
}

// Removes the first n fields of text; false when a '|' is missing.
bool drop_fields(char* text, long long n) {
  char* rest = text;
  for (long long i = 0; i < n; ++i) {
    char* bar = std::strchr(rest, '|');
    if (bar == nullptr) return false;
    rest = bar + 1;
  }
  std::memmove(text, rest, std::strlen(rest) + 1);
  if (char* bar = std::strchr(text, '|')) *bar = '\0';
  return true;
}

}  // namespace

void hbaapi_count_fields(HbaFieldCounts& counts, const Diag* diag) {
  for (int i = 0; i < kHbaStructCount; ++i) {
    int n = 0;
    while (n < kHbaMaxFields && apistructs[i].fields[n].count >= 1) ++n;
    counts[static_cast<std::size_t>(i)] = n;
    if (diag != nullptr && diag->on(kTrace)) diag->print("apistructs[%d] has %d fields.\n", i, n);
  }
}

int hbaapi_field_count(const HbaFieldCounts& counts, char letter) {
  int index = struct_index(letter);
  return index < 0 ? 0 : counts[static_cast<std::size_t>(index)];
}

void hbaapi_render(const HbaOutput& output, const HbaFieldCounts& counts, const Diag* diag,
                   char* out, std::size_t cap, std::size_t* used) {
  const int index = struct_index(output.letter);
  if (index < 0) {
    char text[32];
    std::snprintf(text, sizeof text, "UNKNOWN_TYPE(%c)", output.letter);
    append(out, cap, used, text);
    return;
  }
  const HbaStruct& entry = apistructs[index];
  char text[4097];  // one field's text
  for (int i = 0; i < counts[static_cast<std::size_t>(index)]; ++i) {
    if (i > 0) append(out, cap, used, "|");
    render_field(entry.fields[i], output, text, sizeof text);
    append(out, cap, used, text);
    if (diag != nullptr && diag->on(kTrace)) {
      diag->print("FLD#%d: %s == %s\n", i + 1, entry.fields[i].name, text);
    }
  }
}

void hbaapi_assemble(std::span<const HbaOutput> outputs, long long field,
                     const HbaFieldCounts& counts, const Diag* diag, char* out, std::size_t cap) {
  std::size_t used = 0;
  if (cap > 0) out[0] = '\0';
  if (field == 0) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      if (i > 0) append(out, cap, &used, ".");
      hbaapi_render(outputs[i], counts, diag, out, cap, &used);
    }
    return;
  }
  long long before = 0;
  for (const HbaOutput& output : outputs) {
    const int fields = hbaapi_field_count(counts, output.letter);
    if (field > 0 && field <= before + fields) {
      hbaapi_render(output, counts, diag, out, cap, &used);
      if (!drop_fields(out, field - before - 1)) {
        std::snprintf(out, cap, "%sHBAAPI Error: Field Not Found: (%lld)", "Error: ", field);
      }
      return;
    }
    before += fields;
  }
  std::snprintf(out, cap, "%sField Index Out of Range (%lld)", "Error: ", field);
}

}  // namespace tavro
