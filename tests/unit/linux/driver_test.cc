#include "linux/driver.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using qlinux::Area;

namespace {

// The status word of each answer, as the programs read it.
std::size_t status_at(std::uint32_t n) {
  if (n >> 24 == 0x15 || n == 0x0B00001E) return 16;
  if (n == 0x1E00000A) return 8;
  if (n == 0x1E00000B) return 72;
  return n == 0x14000014 ? 508 : 252;
}

// "w80=<hex WWN> u88=<number> t8=<text>": fields at offsets of a data area.
void fill(Area a, const std::string& fields) {
  std::istringstream in(fields);
  for (std::string f; in >> f;) {
    std::size_t at = std::stoul(f.substr(1)), eq = f.find('=');
    std::uint64_t v = std::stoull(f.substr(eq + 1), nullptr, f[0] == 'w' ? 16 : 0);
    f[0] == 'w' ? a.put_wwn(at, v) : a.put32(at, static_cast<std::uint32_t>(v));
  }
}

// The value at "u92", "w88" or "t84" in the form of the row's expectation.
std::string value(Area a, const std::string& where) {
  std::size_t at = std::stoul(where.substr(1));
  std::ostringstream s;
  if (where[0] == 't') return a.get_text(at, 255);
  if (where[0] == 'w') s << std::hex << a.get_wwn(at);
  if (where[0] == 'u') s << "0x" << std::hex << a.get32(at);
  return s.str();
}

struct Row {
  const char* fixture;
  const char* destination;
  std::uint32_t number;
  std::string fields;
  std::uint32_t status;
  const char* where;  // the value's place, or empty
  const char* want;
};

constexpr const char* P3 = "w80=21000024ff3a5b10 ";  // dual_port host3's port
constexpr const char* P4 = "w80=21000024ff3a5b11 ";  // dual_port host4's port, link down
const std::string A = "pci0000:3b/dev00";
const std::string N = "u12=9 w32=20000024ff3a5b10 ";  // an LXS request about dual_port's node
const std::string E5 = N + "w40=200000d0b2c3d4e5 ", F6 = N + "w40=200000d0b2c3d4f6 ";
constexpr std::uint32_t L = 0x0B00001E;
// multipath: the array through the dual-port card (C1, its first port M1)
// and through the single-port card (C2); the array's port on fabric B.
const std::string C1 = "w84=20000024ff410001 ", C2 = "w84=20000024ff420001 ";
const std::string M1 = "u12=9 w32=20000024ff410001 w40=50060e8000aa0000 ";
const std::string M2 = "u12=9 w32=20000024ff420001 w40=50060e8000aa0000 ";
constexpr const char* ARRAY = "w80=50060e8000aa0000 ";

// status legend: 0 answered, 2 unknown, 6 not available, 7 not supported.
// The dual-port card's values read through the daemon are in tests/e2e/linux;
// here the failures, the other fixtures and what FCGET does not reach.
const Row kRows[] = {
    {"dual_port", "fcph", 0x15000016, "w80=20000024ff3a5b10", 0, "u84", "0x10"},  // by node WWN
    {"dual_port", "fcph", 0x15000016, P4, 6, "", ""},                             // speed "unknown"
    {"dual_port", "fcph", 0x15000016, "w80=1111111111111111", 2, "", ""},
    {"dual_port", "fcp", 0x15000016, P3, 2, "", ""},   // wrong destination
    {"dual_port", "fcph", 0x150000A0, P3, 2, "", ""},  // not in the catalogue
    {"dual_port", "fcph", 0x15000018, P4, 0, "u84", "0x0"},
    {"dual_port", "fcph", 0x1500001A, P3, 7, "", ""},
    {"dual_port", "fcph", 0x1500001C, P3, 6, "", ""},  // no manufacturer told
    {"fcoe", "fcph", 0x1500001C, "w80=2000d4c9efa1b2c6", 0, "t84", "Tavro Networks"},
    {"fcoe", "fcph", 0x1500001E, "w80=2000d4c9efa1b2c6", 0, "t84", "B2"},
    {"dual_port", "fcph", 0x15000026, P3, 0, "u84", "0x2"},
    {"spellings", "fcph", 0x15000026, "w80=10000090fa1b2c3d", 0, "u84", "0x0"},
    {"dual_port", "fcph", 0x15000026, P4, 6, "", ""},
    {"spellings", "fcph", 0x1500002C, "w80=10000090fa1b2c3d", 0, "u96", "0x3"},
    {"dual_port", "fcph", 0x15000030, P3, 0, "u92", "0x1404"},
    {"dual_port", "fcph", 0x15000032, P3, 0, "u92", "0x4c0c"},
    {"dual_port", "fcph", 0x15000036, P3, 0, "u92", "0x1e0e"},
    {"dual_port", "fcph", 0x15000038, P3, 0, "u92", "0x1808"},
    {"sparse", "fcph", 0x1500002E, "w80=21000011aabbcc05", 6, "", ""},  // fails on read
    {"sparse", "fcph", 0x15000030, "w80=21000011aabbcc05", 6, "", ""},  // all ones
    {"sparse", "fcph", 0x15000038, "w80=21000011aabbcc05", 0, "u92", "0x0"},
    {"sparse", "fcph", 0x15000032, "w80=21000011aabbcc05", 0, "u92", "0x40"},  // modulo 2^32
    {"sparse", "fcph", 0x15000038, "w80=21000011aabbcc02", 6, "", ""},         // no statistics/
    {"sparse", "fcph", 0x15000056, "w80=20000011aabbcc05", 6, "", ""},  // a port's fails: no total
    {"dual_port", "fcph", 0x1500003E, P3, 6, "", ""},
    {"dual_port", "fcph", 0x15000042, P3, 0, "u92", "0x1"},
    {"eight", "fcph", 0x15000046, "", 0, "u84", "0x8"},
    {"none", "fcph", 0x15000046, "", 0, "u84", "0x0"},
    {"eight", "fcph", 0x15000048, "u80=7", 0, "w88", "20000024ff000011"},
    {"eight", "fcph", 0x15000048, "u80=8", 2, "", ""},
    {"dual_port", "fcph", 0x15000050, "", 7, "", ""},
    {"dual_port", "fcph", 0x15000052, "w80=20000024ff3a5b11", 0, "u92", "0x2"},
    {"dual_port", "fcph", 0x15000054, "w80=20000024ff3a5b10", 0, "u92", "0x3"},
    {"dual_port", "fcph", 0x15000062, "w80=20000024ff3a5b10", 0, "u92", "0xe828"},
    {"dual_port", "fcph", 0x15000068, "w80=20000024ff3a5b10", 6, "", ""},
    {"dual_port", "fcph", 0x15000090, "w80=20000024ff3a5b10", 0, "u92", "0x4212"},
    {"dual_port", "fcph", 0x15000070, "u80=2 w84=20000024ff3a5b10", 2, "", ""},
    {"dual_port", "fcph", 0x15000072, "u80=2 w84=20000024ff3a5b10", 0, "w88", "20fffc0a0b0c0d0e"},
    {"dual_port", "fcph", 0x15000072, "u80=3 w84=20000024ff3a5b10", 2, "", ""},
    {"dual_port", "fcph", 0x15000074, "w80=200000d0b2c3d4e5", 0, "u92", "0x1"},
    {"dual_port", "fcph", 0x15000076, "w80=200000d0b2c3d4f6", 0, "u92", "0x3"},
    {"dual_port", "fcph", 0x15000078, "w80=20fffc0a0b0c0d0e", 6, "", ""},
    {"dual_port", "fcph", 0x15000092, "w80=200000d0b2c3d4f6 u88=1", 2, "", ""},
    {"dual_port", "fcph", 0x15000096, P4, 0, "u92", "0x0"},
    {"multipath", "fcph", 0x15000018, "w80=21000024ff420001", 0, "u84", "0x1"},  // Marginal
    {"multipath", "fcph", 0x15000046, "", 0, "u84", "0x2"},
    {"multipath", "fcph", 0x15000054, "w80=20000024ff410002", 0, "u92", "0x2"},  // array once
    {"multipath", "fcph", 0x15000054, "w80=20000024ff420001", 0, "u92", "0x1"},
    {"multipath", "fcph", 0x15000072, "u80=0 " + C1, 0, "w88", "50060e8000aa0000"},  // rport-1:0-2
    {"multipath", "fcph", 0x15000072, "u80=1 " + C1, 0, "w88", "100000051e0a0000"},  // rport-1:0-10
    {"multipath", "fcph", 0x15000072, "u80=2 " + C1, 2, "", ""},  // the gone path is no node
    {"multipath", "fcph", 0x15000072, "u80=0 " + C2, 0, "w88", "50060e8000aa0000"},
    // Without a local node: every path of the array, each remote port once.
    {"multipath", "fcph", 0x15000074, ARRAY, 0, "u92", "0x3"},
    {"multipath", "fcph", 0x15000092, ARRAY + std::string("u88=2"), 0, "w92", "50060e8000aa0002"},
    {"multipath", "fcph", 0x15000092, ARRAY + std::string("u88=3"), 2, "", ""},
    {"multipath", "fcph", 0x15000094, ARRAY + std::string("w88=50060e8000aa0002"), 0, "u92",
     "0x20200"},
    {"multipath", "fcph", 0x15000074, "w80=ffffffffffffffff", 2, "", ""},
    // With one: that card's first path with a SCSI target.
    {"multipath", "fcp", L, M1 + "u0=15", 0, "u112", "0x0"},  // Marginal is not blocked
    {"multipath", "fcp", L, M2 + "u0=15", 0, "u112", "0x1"},  // Blocked
    {"multipath", "fcp", L, M1 + "u0=17", 0, "u112", "0x2"},
    {"multipath", "fcp", L, M2 + "u0=17", 0, "u112", "0x1"},
    {"multipath", "fcp", L, "u0=3 u12=9 w32=20000024ff420001", 0, "t112", "Online"},  // Marginal
    {"multipath", "/pvd/fcp0.sif", 0x1E00000E, "u0=1 w4=20000024ff410001 w12=100000051e0a0000", 6,
     "", ""},  // no SCSI target
    {"npiv", "fcph", 0x15000052, "w80=20000024ff5a0001", 0, "u92", "0x2"},
    {"npiv", "fcph", 0x15000070, "u80=1 w84=20000024ff5a0001", 0, "w88", "21000024ff5a00f1"},
    {"npiv", "fcph", 0x15000026, "w80=21000024ff5a00f1", 0, "u84", "0x2"},
    {"npiv", "fcp", L, "u0=17 u12=9 w32=20000024ff5a0001 w40=50060e8000bb0000", 2, "", ""},  // loop
    {"shared_node", "fcph", 0x15000046, "", 0, "u84", "0x2"},
    {"shared_node", "fcph", 0x15000070, "u80=1 w84=5005076400c00001", 0, "w88", "c05076ffe5000002"},
    {"shared_node", "fcph", 0x15000070, "u80=1 w84=c05076ffe6000000", 0, "w88", "c05076ffe6000004"},
    {"shared_node", "fcp", L, "u0=3 u12=9 w32=5005076400c00001", 0, "t112", "Online"},
    {"dual_port", "fcp", 0x0B00001E, "u0=2 u12=9 w32=21000024ff3a5b11", 0, "t112",
     "TV-2602 FW:v8.08.231 DVR:v10.02.07.900-k"},
    {"dual_port", "fcp", 0x0B00001E, "u0=3 u12=9 w32=20000024ff3a5b11", 0, "t112", "Online"},
    {"dual_port", "fcp", L, N + "u0=4", 2, "", ""},
    {"dual_port", "fcp", L, N + "u0=8", 0, "u112", "0xe828"},
    {"dual_port", "fcp", L, F6 + "u0=14", 0, "u112", "0x1"},
    {"dual_port", "fcp", 0x0B00001E, "u0=14 u12=9 w32=20000024ff3a5b10 w40=20fffc0a0b0c0d0e", 2, "",
     ""},  // no SCSI target
    {"dual_port", "fcp", L, F6 + "u0=0x8000000E", 2, "", ""},
    {"dual_port", "fcp", L, E5 + "u0=17", 0, "u112", "0x2"},
    {"dual_port", "fcp", L, F6 + "u0=18", 0, "u112", "0x1"},
    {"dual_port", "fcp", L, F6 + "u0=19 u20=1", 2, "", ""},
    {"dual_port", "fcp", L, N + "u0=21", 2, "", ""},
    {"eight", "/pvd/fcp0.sif", 0x1E00000A, "u0=1", 0, "u4", "0x8"},
    {"none", "/pvd/fcp0.sif", 0x1E00000A, "u0=1", 0, "u4", "0x0"},
    {"eight", "/pvd/fcp7.sif", 0x1E00000B, "u0=1 u4=7", 0, "t8", "pci0000:88/dev00"},
    {"fcoe", "/pvd/fcp1.sif", 0x1E00000B, "u0=1 u4=1", 0, "t8", "host9"},
    {"fcoe", "/pvd/fcp2.sif", 0x1E00000B, "u0=1 u4=2", 2, "", ""},
    {"fcoe", "/pvd/fcp8.sif", 0x1E00000B, "u0=1 u4=0", 2, "", ""},
    {"dual_port", "/pvd/fcp0.sif", 0x1E00000C, "u0=1", 6, "", ""},
    {"dual_port", "/pvd/fcp0.sif", 0x1E00000D, "u0=1", 7, "", ""},
    {"dual_port", "/pvd/fcp0.sif", 0x1E00000E, "u0=1 w4=20000024ff3a5b10 w12=200000d0b2c3d4f6", 0,
     "u20", "0x1"},
    {"dual_port", "/pvd/fcp0.sif", 0x1E00000E, "u0=1 w4=20000024ff3a5b11 w12=2222222222222222", 2,
     "", ""},
    {"dual_port", "/pvd/fcp0.sif", 0x1E000010, "u0=1 w4=20000024ff3a5b10 w12=200000d0b2c3d4e5", 0,
     "u20", "0x0"},
    {"dual_port", "/pvd/fcp0.sif", 0x1E000011, "u0=1", 7, "", ""},
    {"fcoe", "host9", 0x14000014, "u0=2", 0, "t8", "none"},
    {"sparse", "pci0000:12/dev00", 0x14000014, "u0=3", 6, "", ""},
    {"dual_port", A.c_str(), 0x14000015, "u0=1", 6, "", ""},
    {"dual_port", "pci0000:99/dev00", 0x14000016, "u0=1", 2, "", ""},
};

}  // namespace

TEST(LinuxDriver, AnswersFromSysfs) {
  for (const Row& r : kRows) {
    sysfs::Model model(std::string(TAVRO_FIXTURES) + "/" + r.fixture);
    qlinux::Driver driver(model);
    std::vector<std::uint8_t> bytes(
        qlinux::request_size(r.number) ? qlinux::request_size(r.number) : 256, 0);
    Area a{bytes.data(), bytes.size()};
    a.put32(12, r.number >> 24 == 0x15 ? r.number : 0);
    fill(a, r.fields);
    driver.answer(r.destination, r.number, a);
    std::ostringstream name;
    name << r.fixture << " " << std::hex << r.number << " " << r.fields;
    EXPECT_EQ(a.get32(status_at(r.number)), r.status) << name.str();
    if (*r.where) {
      EXPECT_EQ(value(a, r.where), r.want) << name.str();
    }
  }
}
