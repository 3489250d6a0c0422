// privagent in process: the frame with the private tree's profile, over a
// channel to the simulated driver, queried as the SNMP service queries it.
// Values, writes and the debug log are checked through snmpd (tests/e2e/snmp).
#include "agents/privagent/privagent.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "agents/frame/varbind_text.h"
#include "sim/sim_control.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

using Ids = std::vector<std::uint32_t>;

const Ids kPrivate = {1, 3, 6, 1, 4, 1, 48217, 3};
const Ids kPort0 = {0x21, 0, 0, 0xE0, 0x8B, 1, 2, 3};

Ids name(std::initializer_list<Ids> parts) {
  Ids all;
  for (const Ids& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A binding list the test owns, as the service would pass it.
class Bindings {
 public:
  explicit Bindings(std::vector<Ids> names) : list_(names.size()) {
    for (std::size_t k = 0; k < names.size(); ++k) {
      snmp_oid n{static_cast<std::uint32_t>(names[k].size()), names[k].data()};
      SnmpUtilOidCpy(&list_[k].name, &n);
      list_[k].value.asnType = snmp::kNull;
    }
    raw_ = {list_.data(), static_cast<std::uint32_t>(list_.size())};
  }
  ~Bindings() {
    for (auto& b : list_) {
      SnmpUtilOidFree(&b.name);
      free_value(b.value);
    }
  }
  snmp_varbind_list* raw() { return &raw_; }
  snmp_varbind& operator[](std::size_t k) { return list_[k]; }
  Ids name_of(std::size_t k) const {
    return Ids(list_[k].name.ids, list_[k].name.ids + list_[k].name.idLength);
  }

 private:
  std::vector<snmp_varbind> list_;
  snmp_varbind_list raw_{};
};

struct Answer {
  int result = -1;
  std::int32_t status = -1;
  std::int32_t index = -1;
};

ChannelSettings quick(const char* library = "QFCMsgLib") {
  ChannelSettings s;
  s.request_timeout_ms = 300;
  s.library_name = library;
  return s;
}

class PrivAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_reset();
    dir_ = testing::make_temp_dir();
    log_ = dir_ + "/qsnmpdbg.log";
    setenv(kDebugLogVariable, log_.c_str(), 1);
    agent_ = std::make_unique<AgentFrame>(kPrivAgentProfile, quick());
    snmp_oid view{};
    void* trap = &view;
    ASSERT_EQ(agent_->extension_init(&trap, &view), 1);
    EXPECT_EQ(trap, nullptr);
    EXPECT_EQ(Ids(view.ids, view.ids + view.idLength), kPrivate);
    EXPECT_EQ(agent_->extension_init_ex(&view), 0);
  }
  void TearDown() override { unsetenv(kDebugLogVariable); }

  Answer query(std::uint8_t type, Bindings& b) {
    Answer a;
    a.index = 0;
    a.result = agent_->extension_query(type, b.raw(), &a.status, &a.index);
    return a;
  }

  std::string dir_;
  std::string log_;
  std::unique_ptr<AgentFrame> agent_;
};

struct ErrorRow {
  const char* name;
  std::uint8_t type;
  std::vector<Ids> names;
  std::int32_t status;
  std::int32_t index;
};

const ErrorRow kErrorRows[] = {
    {"NotSupportedRowIsGenErrAtItsIndex",
     snmp::kGet,
     {name({kPrivate, {3, 1, 0}}), name({kPrivate, {3, 7, 1, 21}, kPort0})},
     5,
     2},
    {"UnknownObjectIsNoSuchName", snmp::kGet, {name({kPrivate, {9, 9, 9}})}, 2, 1},
    {"DirectBranchIsNoSuchName", snmp::kGet, {{1, 3, 6, 1, 4, 1, 48217, 2, 1, 1, 0}}, 2, 1},
    {"ShortNameIsNoSuchName", snmp::kGet, {{1, 3, 6}}, 2, 1},
    {"TwoWritesAreRefused",
     snmp::kSet,
     {name({kPrivate, {2, 11, 0}}), name({kPrivate, {2, 11, 0}})},
     5,
     0},
    {"WriteOfUnknownObjectIsNoSuchName", snmp::kSet, {name({kPrivate, {3, 1, 0}})}, 2, 1},
};

class PrivAgentErrors : public PrivAgent, public ::testing::WithParamInterface<ErrorRow> {};

TEST_P(PrivAgentErrors, StatusAndIndex) {
  Bindings b(GetParam().names);
  if (GetParam().type == snmp::kSet) {
    for (std::size_t k = 0; k < GetParam().names.size(); ++k) {
      b[k].value.asnType = snmp::kInteger;
      b[k].value.asnValue.number = 1;
    }
  }
  Answer a = query(GetParam().type, b);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.status, GetParam().status);
  EXPECT_EQ(a.index, GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Rows, PrivAgentErrors, ::testing::ValuesIn(kErrorRows),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(PrivAgent, GetNextAlwaysAnswersPastTheView) {
  Bindings b({name({kPrivate, {3, 1, 0}}), {1, 3, 6}});
  b[1].value.asnType = snmp::kInteger;
  b[1].value.asnValue.number = 77;
  Answer a = query(snmp::kGetNext, b);
  EXPECT_EQ(a.status, 0);
  for (std::size_t k = 0; k < 2; ++k) EXPECT_EQ(b.name_of(k), (Ids{1, 3, 6, 1, 4, 1, 48217, 4}));
  EXPECT_EQ(b[1].value.asnValue.number, 77) << "value untouched";
}

TEST(PrivAgentHandle, UpperBitsNameTheAgentWhateverTheProcessNumber) {
  setenv(kDebugLogVariable, (testing::make_temp_dir() + "/qsnmpdbg.log").c_str(), 1);
  ChannelSettings settings = quick();
  settings.process_id = 0x12345;
  AgentFrame agent(kPrivAgentProfile, settings);
  agent.extension_init(nullptr, nullptr);
  agent.snmp_open();
  ASSERT_TRUE(agent.channel().channel_open());
  EXPECT_EQ(agent.channel().reg_handle(), 0x534E2345u);
}

TEST_F(PrivAgent, RegistersItsOwnHandleWithTheDriver) {
  ASSERT_TRUE(agent_->channel().channel_open());
  EXPECT_EQ(agent_->channel().reg_handle() & 0xFFFF0000u, 0x534E0000u);
  EXPECT_EQ(agent_->channel().reg_handle() & 0xFFFFu,
            static_cast<std::uint32_t>(getpid()) & 0xFFFFu);
}

TEST_F(PrivAgent, OtherRequestTypesAreNotHandled) {
  Bindings b({name({kPrivate, {3, 1, 0}})});
  EXPECT_EQ(query(0xA2, b).result, 0);
  EXPECT_EQ(b[0].value.asnType, snmp::kNull);
}

TEST(PrivAgentDriver, MissingLibraryAnswersGenErrAtOnce) {
  setenv(kDebugLogVariable, (testing::make_temp_dir() + "/qsnmpdbg.log").c_str(), 1);
  AgentFrame agent(kPrivAgentProfile, quick("NoSuchMsgLib"));
  snmp_oid view{};
  agent.extension_init(nullptr, &view);
  agent.extension_init_ex(&view);
  Bindings b({name({kPrivate, {3, 1, 0}})});
  std::int32_t status = 0, index = 0;
  EXPECT_EQ(agent.extension_query(snmp::kGet, b.raw(), &status, &index), 1);
  EXPECT_EQ(status, 5);
  EXPECT_EQ(index, 1);
}

TEST(PrivAgentLibrary, ExportsExactlyTheFourAgentFunctions) {
  std::string command = "nm -D --defined-only " + testing::binary_dir() + "/libprivagent.so";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    names.push_back(text.substr(text.rfind(' ') + 1, text.size() - text.rfind(' ') - 2));
  }
  pclose(pipe);
  EXPECT_EQ(names, (std::vector<std::string>{"SnmpExtensionInit", "SnmpExtensionInitEx",
                                             "SnmpExtensionQuery", "SnmpExtensionTrap"}));
}

}  // namespace
}  // namespace tavro
