// The object tables and texts, value formats and write values, the host
// description texts, and object handlers over a channel to the simulated driver.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/diag.h"
#include "channel/channel.h"
#include "eventlog/event_log.h"
#include "objects/host_description.h"
#include "objects/oid_table.h"
#include "objects/oid_text.h"
#include "objects/qdn_oid.h"
#include "objects/value_format.h"
#include "objects/write_value.h"
#include "sim/sim_control.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

const oid_entry* find_exact(const oid_entry* table, const char* oid) {
  for (const oid_entry* row = table; row->oid != nullptr; ++row) {
    if (std::strcmp(row->oid, oid) == 0) return row;
  }
  return nullptr;
}

TEST(OidTables, EveryRowIsConsistentWithItself) {
  for (const oid_entry* table : {oid_get_table, oid_set_table}) {
    std::set<std::string> seen;
    for (const oid_entry* row = table; row->oid != nullptr; ++row) {
      SCOPED_TRACE(row->oid);
      EXPECT_TRUE(seen.insert(row->oid).second) << "suffix listed twice";
      EXPECT_NE(row->handler, nullptr);
      EXPECT_EQ(row->components, oid_component_count(row->oid));
      EXPECT_TRUE(row->components == 3 || row->components == 4);
      ASSERT_GE(row->index_count, 0);
      ASSERT_LE(row->index_count, 3);
      EXPECT_EQ(std::strlen(row->index_kinds), static_cast<std::size_t>(row->index_count) + 1);
      EXPECT_EQ(row->index_kinds[row->index_count], ' ');
      EXPECT_TRUE(row->type >= 1 && row->type <= 8);
      EXPECT_GT(row->count, 0);
    }
  }
}

TEST(OidTables, WalkVisitsEveryReadRowOnceInAscendingOrder) {
  std::set<std::string> visited;
  const char* at = "1.1.0";
  const oid_entry* last = nullptr;
  while (std::strcmp(at, kWalkEnd) != 0) {
    const oid_entry* row = find_exact(oid_get_table, at);
    ASSERT_NE(row, nullptr) << at << " names no read row";
    ASSERT_TRUE(visited.insert(at).second) << at << " visited twice";
    if (last != nullptr) {
      EXPECT_GT(oid_compare(row->oid, last->oid, 4), 0) << row->oid;
    }
    last = row;
    at = row->next;
  }
  std::size_t rows = 0;
  while (oid_get_table[rows].oid != nullptr) ++rows;
  EXPECT_EQ(visited.size(), rows);
  EXPECT_STREQ(last->oid, "5.2.1.3");
  EXPECT_EQ(find_exact(oid_get_table, kWalkEnd), nullptr);
}

TEST(OidTables, ReadAndWriteRowsAgree) {
  for (const oid_entry* w = oid_set_table; w->oid != nullptr; ++w) {
    SCOPED_TRACE(w->oid);
    EXPECT_STREQ(w->next, kWalkEnd);
    const oid_entry* r = find_exact(oid_get_table, w->oid);
    if (r == nullptr) continue;
    EXPECT_EQ(w->components, r->components);
    EXPECT_EQ(w->index_count, r->index_count);
    EXPECT_STREQ(w->index_kinds, r->index_kinds);
  }
}

// Which written values fit their field: every type's boundary rows (first,
// last, one past) and the texts a user may type around a number.
const std::map<std::string, int> kTypes = {
    {"signed", kValueSigned}, {"unsigned", kValueUnsigned}, {"u8", kValueU8},
    {"u16", kValueU16},       {"signed64", kValueSigned64}, {"text", kValueText},
    {"bytes", kValueBytes}};

TEST(WriteValue, FitsItsFieldUpToTheBoundaryAndNoFurther) {
  for (const auto& row : testing::read_rows("unit/objects/write_values.txt")) {
    const std::string& text = row.at(2);
    const bool fits = row.at(3) == "yes";
    SCOPED_TRACE(row.at(0) + " \"" + text + "\"");
    if (row.at(0) != "field32") {
      EXPECT_EQ(lxs_value_fits(text.c_str(), kTypes.at(row.at(0)), std::stoi(row.at(1))), fits);
      continue;
    }
    std::uint32_t field = 0;
    EXPECT_EQ(parse_field32(text.c_str(), &field), fits);
    if (fits) {
      EXPECT_EQ(field, static_cast<std::uint32_t>(std::stoll(text)));
    }
  }
}

template <typename T>
std::string format(const std::vector<T>& values, int type, int count = -1) {
  char out[256];
  std::memset(out, 'x', sizeof out);
  int n = count < 0 ? static_cast<int>(values.size()) : count;
  std::size_t length =
      format_value(out, sizeof out, values.data(), values.size() * sizeof(T), n, type);
  EXPECT_EQ(length, std::strlen(out));
  return out;
}

// Codes 3, 8 and 10 are pinned by the replies in tests/unit/channel and tests/e2e/objects.
TEST(ValueFormat, EachCodeAndUnknownCodes) {
  EXPECT_EQ(format<std::uint32_t>({7, 8, 4294967295u}, 2), "7:8:4294967295");
  EXPECT_EQ(format<std::int32_t>({-5, 12}, 1), "-5:12");
  EXPECT_EQ(format<std::uint8_t>({0, 255}, 5), "0:255");
  EXPECT_EQ(format<std::uint16_t>({65535, 1}, 6), "65535:1");
  EXPECT_EQ(format<std::uint32_t>({0xABC}, 7), "00000ABC");
  EXPECT_EQ(format<std::int64_t>({-1234567890123LL, 9000000000LL}, 9), "-1234567890123:9000000000");
  // Text takes the first count characters; unknown codes are errors.
  std::vector<char> text{'a', 'b', 'c', 'd', '\0', 'z'};
  EXPECT_EQ(format(text, 4, 3), "abc");
  EXPECT_EQ(format(text, 4, 6), "abcd");
  // Only the low four bits of the type choose the code.
  EXPECT_EQ(format<std::uint32_t>({7}, 0x12), "7");
  EXPECT_EQ(format<std::uint32_t>({7}, 0), "Error: Unknown oid->type 0");
  EXPECT_EQ(format<std::uint32_t>({7}, 11), "Error: Unknown oid->type 11");
  EXPECT_EQ(format<std::uint32_t>({7}, 0x1F), "Error: Unknown oid->type 31");
}

TEST(ValueFormat, NeverReadsOrWritesPastItsBuffers) {
  std::uint32_t values[2] = {1, 2};
  char out[64];
  // A count larger than the data is cut to the data.
  format_value(out, sizeof out, values, sizeof values, 100, 2);
  EXPECT_STREQ(out, "1:2");
  char text[4] = {'a', 'b', 'c', 'd'};
  format_value(out, sizeof out, text, sizeof text, 100, 4);
  EXPECT_STREQ(out, "abcd");
  // A small output is cut and terminated.
  char small[5];
  std::memset(small, 'x', sizeof small);
  std::uint8_t wwn[8] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  EXPECT_EQ(format_value(small, sizeof small, wwn, sizeof wwn, 8, 3), 4u);
  EXPECT_STREQ(small, "1020");
  EXPECT_EQ(format_value(small, 1, wwn, sizeof wwn, 8, 3), 0u);
  EXPECT_STREQ(small, "");
}

// Components compare as numbers: shorter ones sort first. A written value
// after the blank (a scalar matches, unless the value holds a dot) is met
// through FCSET in tests/e2e/objects.
TEST(OidText, CountsAndComparesComponentByComponent) {
  for (const auto& row : testing::read_rows("unit/objects/oid_texts.txt")) {
    SCOPED_TRACE(row.at(1));
    if (row.at(0) == "count") {
      EXPECT_EQ(oid_component_count(row.at(1).c_str()), std::stoi(row.at(2)));
    } else {
      EXPECT_EQ(oid_compare(row.at(1).c_str(), row.at(2).c_str(), std::stoi(row.at(3))),
                std::stoi(row.at(4)));
    }
  }
}

std::uint16_t u16(const std::string& text) {
  return static_cast<std::uint16_t>(std::stoul(text, nullptr, 0));
}

// host_texts.txt: processor names by type, then level, then architecture,
// and descriptions; what /proc/cpuinfo gives; clock rates; the sysfs clock;
// the Linux and Windows descriptions.
TEST(HostTexts, AsTheFileSays) {
  char out[160];
  const testing::Vars vars = {{"NL", "\n"}, {"TAB", "\t"}};
  for (const auto& row : testing::read_rows("unit/objects/host_texts.txt", vars)) {
    const std::string& kind = row.at(0);
    SCOPED_TRACE(kind + " " + row.at(1) + " " + row.at(2));
    if (kind == "processor") {
      platform::ProcessorInfo info;
      info.type = static_cast<std::uint32_t>(std::stoul(row.at(1)));
      info.architecture = u16(row.at(2));
      info.level = u16(row.at(3));
      info.revision = u16(row.at(4));
      EXPECT_STREQ(processor_name(info, out, 64), row.at(5).c_str());
      if (row.size() == 6) continue;
      processor_description(info, row.at(6) == "1", std::stoul(row.at(7)), out, sizeof out);
      EXPECT_STREQ(out, row.at(8).c_str());
    } else if (kind == "cpuinfo") {
      platform::ProcessorInfo info = platform::processor_info_from_cpuinfo(row.at(1).c_str());
      std::uint32_t mhz = 0;
      const bool known = platform::clock_mhz_from_cpuinfo(row.at(1).c_str(), &mhz);
      std::snprintf(out, sizeof out, "%u %u %u %u %u", info.type, info.architecture, info.level,
                    info.revision, known ? mhz : 0);
      EXPECT_EQ(out, row.at(2));
    } else if (kind == "clock") {
      clock_rate_text(row.at(1) == "1", static_cast<std::uint32_t>(std::stoul(row.at(2))), out, 32);
      EXPECT_STREQ(out, row.at(3).c_str());
    } else if (kind == "max_freq") {
      std::uint32_t mhz = 0;
      EXPECT_EQ(platform::clock_mhz_from_max_freq(row.at(1).c_str(), &mhz), row.at(2) != "0");
      EXPECT_EQ(std::to_string(mhz), row.at(2));
    } else if (kind == "linux") {
      platform::OsVersion v;
      v.ok = true;
      platform::parse_kernel_release(row.at(1).c_str(), &v);
      platform::os_release_name(row.at(2).c_str(), v.name, std::stoul(row.at(3)));
      os_description(v, out, sizeof out);
      EXPECT_EQ(std::string(out) + "|" + host_vendor(v), row.at(4));
    } else {  // windows; a failed query has its error in place of the major number
      platform::OsVersion w;
      w.ok = kind == "windows";
      w.platform = std::stoi(row.at(1));
      (w.ok ? w.major : w.error) = std::stoi(row.at(2));
      w.minor = std::stoi(row.at(3));
      std::snprintf(w.detail, sizeof w.detail, "%s", row.at(4).c_str());
      os_description(w, out, sizeof out);
      EXPECT_STREQ(out, row.at(5).c_str());
      EXPECT_STREQ(host_vendor(w), "Microsoft");
    }
  }
}

// Object handlers in process, over a channel to the simulated driver, where
// the simulator's counters show what reached the driver.
const std::string kAgent = ".1.3.6.1.4.1.48217.3.";
const std::string kPort = "210000E08B010203";
const std::string kNode = "200000E08B010203";

struct CapturedReply final : ReplySink {
  int reply(const char* text) override {
    text_ = text;
    ++replies_;
    return 0;
  }
  std::string text_;
  int replies_ = 0;
};

class ObjectHandlers : public ::testing::Test {
 protected:
  void SetUp() override { sim_reset(); }

  std::string get(const std::string& object) {
    CapturedReply sink;
    std::string oid = kAgent + object;
    qdn_oid(services_, sink, kNoConnection, oid.c_str(), kAgentBranch, oid_get_table);
    EXPECT_EQ(sink.replies_, 1) << object;
    return sink.text_;
  }

  std::int32_t debug_ = 0;
  std::int32_t log_mode_ = 0;
  std::int32_t log_flags_ = 0;
  Diag diag_{debug_};
  EventLog events_{{"", log_mode_, log_flags_}, &diag_};
  Channel channel_{diag_, events_, nullptr, ChannelSettings{.request_timeout_ms = 200}};
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  ObjectServices services_{channel_, diag_, events_, nullptr, start_};
};

// Resolution opens the channel on demand; an invalid instance of an LXS
// object sends nothing.
TEST_F(ObjectHandlers, CounterPairAsksTheSecondObjectAfterTheFirstFails) {
  EXPECT_FALSE(channel_.channel_open());
  ASSERT_EQ(get("3.5.1.3." + kPort), "2");
  EXPECT_TRUE(channel_.channel_open());
  std::uint32_t sent = sim_requests_received();
  EXPECT_EQ(get("4.4.1.6"), "Error: Invalid OID length(" + kAgent + "4.4.1.6)");
  EXPECT_EQ(sim_requests_received(), sent);
  sim_fault_lxs_status(LXS_FCP, 5);
  sent = sim_requests_received();
  std::string pair = get("4.3.1.17." + kNode);
  EXPECT_EQ(sim_requests_received() - sent, 3u);  // and then whether the node is there
  EXPECT_EQ(pair.substr(0, 12), "-1|-1|-1|-1|") << pair;
  sim_fault_lxs_status(LXS_FCP, 0);
  pair = get("4.3.1.18." + kNode);
  EXPECT_NE(pair.substr(0, 3), "-1|") << pair;
}

// 4.3.1.17 pairs objects 6 and 5 (sequences), 4.3.1.18 objects 8 and 7
// (bytes), received first, then two unused fields and the clock. The counters
// grow with time, so each half must lie between its object's values read
// before and after.
TEST_F(ObjectHandlers, CounterPairsJoinTheirObjectsInOrder) {
  struct {
    const char* pair;
    const char* first;
    const char* second;
  } const rows[] = {{"4.3.1.17.", "4.4.1.7.", "4.4.1.6."}, {"4.3.1.18.", "4.4.1.9.", "4.4.1.8."}};
  auto number = [&](const std::string& object) { return std::stoull(get(object + kNode)); };
  for (const auto& row : rows) {
    unsigned long long first_before = number(row.first), second_before = number(row.second);
    std::string pair = get(row.pair + kNode);
    unsigned long long first_after = number(row.first), second_after = number(row.second);
    ASSERT_TRUE(first_after < second_before || second_after < first_before) << row.pair;
    std::size_t bar = pair.find('|');
    unsigned long long first = std::stoull(pair), second = std::stoull(pair.substr(bar + 1));
    EXPECT_TRUE(first_before <= first && first <= first_after) << pair;
    EXPECT_TRUE(second_before <= second && second <= second_after) << pair;
    EXPECT_EQ(pair.substr(pair.find('|', bar + 1), 7), "|-1|-1|") << pair;
  }
}

}  // namespace
}  // namespace tavro
