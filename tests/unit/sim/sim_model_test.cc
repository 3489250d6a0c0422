// Model loading: good and bad JSON, the example files, and their faults.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Model = SimTest;

std::string model_path(const char* name) {
  return std::string(TAVRO_SOURCE_DIR) + "/sim/models/" + name;
}

std::uint32_t adapter_count(Client& c) {
  auto a = c.request("/pvd/fcp0.sif", 0x1E00000A, 1024);
  return a ? get32(a->data, 4) : 0xFFFFFFFFu;
}

TEST_F(Model, MinimalModelWithDefaults) {
  const char* json = R"({
    "_comment": "one adapter, one port, every other field by default",
    "adapters": [ { "name": "/pvd/pci7/fcp0", "node_wwn": "20:00:00:00:c9:00:00:01",
                    "ports": [ { "wwn": "10000000C9000001", "fc_address": 1193046 } ] } ] })";
  ASSERT_EQ(sim_load_model_json(json), 0) << sim_last_error();
  EXPECT_STREQ(sim_last_error(), "");
  Client c;
  EXPECT_EQ(adapter_count(c), 1u);
  auto name = c.request("/pvd/fcp0.sif", 0x1E00000B, 1024);
  ASSERT_TRUE(name);
  EXPECT_EQ(text_at(name->data, 8), "/pvd/pci7/fcp0");
  auto info = c.request("/pvd/pci7/fcp0", 0x14000014, 512, [](std::uint8_t* d) { put32(d, 0, 2); });
  ASSERT_TRUE(info);
  EXPECT_EQ(text_at(info->data, 8), "PCI");
  auto port = c.request("/pvd/pci7/fcp0", 0x14000016, 256);
  ASSERT_TRUE(port);
  EXPECT_EQ(hex_at(port->data, 4), "10000000C9000001");
  auto factory = fcph(c, 0x15000028, "10000000C9000001");
  auto address = fcph(c, 0x15000096, "10000000C9000001");
  auto vendor = fcph(c, 0x1500001C, "10000000C9000001");
  ASSERT_TRUE(factory && address && vendor);
  EXPECT_EQ(hex_at(factory->data, 84), "10000000C9000001");
  EXPECT_EQ(get32(address->data, 92), 0x123456u);
  EXPECT_EQ(text_at(vendor->data, 84), "Quellstone Corporation");
}

TEST_F(Model, NoAdaptersAtAll) {
  ASSERT_EQ(sim_load_model_json(R"({"adapters": []})"), 0) << sim_last_error();
  Client c;
  EXPECT_EQ(adapter_count(c), 0u);
  auto nodes = fcph(c, 0x15000046, "");
  ASSERT_TRUE(nodes);
  EXPECT_EQ(get32(nodes->data, 84), 0u);
}

TEST_F(Model, ExampleFile) {
  ASSERT_EQ(sim_load_model_file(model_path("example.json").c_str()), 0) << sim_last_error();
  Client c;
  EXPECT_EQ(adapter_count(c), 2u);
  auto info =
      c.request("/pvd/pci1/dev4/fcp0", 0x14000014, 512, [](std::uint8_t* d) { put32(d, 0, 1); });
  ASSERT_TRUE(info);
  EXPECT_EQ(get32(info->data, 4), 2u);
  EXPECT_EQ(text_at(info->data, 8), "PCI-X");
  // The second adapter's link is down: no FC address, counters stand still.
  auto link = fcph(c, 0x15000042, "210000E08B445566");
  auto address = fcph(c, 0x15000096, "210000E08B445566");
  auto before = fcph(c, 0x1500002E, "210000E08B445566");
  sim_advance_clock(10000);
  auto after = fcph(c, 0x1500002E, "210000E08B445566");
  ASSERT_TRUE(link && address && before && after);
  EXPECT_EQ(get32(link->data, 92), 0u);
  EXPECT_EQ(get32(address->data, 92), 0u);
  EXPECT_EQ(get32(before->data, 92), 5000u);
  EXPECT_EQ(get32(after->data, 92), 5000u);
  // The array is seen through both ports of the first adapter, listed once.
  auto remotes = fcph(c, 0x15000054, "200000E08B112233");
  ASSERT_TRUE(remotes);
  EXPECT_EQ(get32(remotes->data, 92), 1u);
  auto manual = c.request("/pvd/fcp0.sif", 0x1E00000C, 256);
  ASSERT_TRUE(manual);
  EXPECT_EQ(get32(manual->data, 4), 1u);
}

TEST_F(Model, FaultsFromTheFileAndResetDropsThem) {
  ASSERT_EQ(sim_load_model_file(model_path("faults.json").c_str()), 0) << sim_last_error();
  // Two refused registrations, then a driver error on each registration.
  EXPECT_EQ(q_register_msg_handler(0x54410001, "TAVRO", 0, handler_for(0)), 0);
  EXPECT_EQ(q_register_msg_handler(0x54410002, "TAVRO", 0, handler_for(0)), 0);
  Client c(0, 0x54410003);
  ASSERT_TRUE(c.registered());
  c.drain(100ms);
  EXPECT_EQ(c.driver_errors, std::vector<std::uint32_t>{9});

  // The first allocation faults with SIGBUS (raised), the next fails; the
  // first q_msg_free faults with SIGSEGV.
  FaultCatcher catcher;
  EXPECT_EQ(catcher.call([] { q_msg_alloc(256, 256, 0); }), SIGBUS);
  EXPECT_EQ(q_msg_alloc(256, 256, 0), nullptr);
  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  auto first = inboxes()[0].pop(1000ms);
  ASSERT_TRUE(first);
  EXPECT_EQ(catcher.call([&] { q_msg_free(first->message); }), SIGSEGV);
  q_msg_free(first->message);

  auto wrong = fcph(c, 0x1500001C, "210000E08B010203");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->number, 0x1500001Fu);
  auto explicit_number = fcph(c, 0x1500001E, "210000E08B010203");
  ASSERT_TRUE(explicit_number);
  EXPECT_EQ(explicit_number->number, 0x15000021u);
  auto object = lxs(c, 5, "200000E08B010203");
  ASSERT_TRUE(object);
  EXPECT_EQ(get32(object->data, 0), 6u);
  EXPECT_EQ(get32(object->data, 16), 3u);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(fcph(c, 0x15000016, "210000E08B010203"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  ASSERT_TRUE(
      c.send("fcph", 0x15000018, 256, [](std::uint8_t* d) { put_wwn(d, 80, "210000E08B010203"); }));
  EXPECT_FALSE(c.wait_answer(256, 200ms));
  EXPECT_EQ(c.driver_errors, (std::vector<std::uint32_t>{9, 7}));

  sim_reset();
  EXPECT_EQ(adapter_count(c), 2u) << "back to the default model";
  auto state = fcph(c, 0x15000018, kPort0);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->number, 0x15000019u);
  void* area = q_msg_alloc(256, 256, 0);  // no crash, no failure left
  ASSERT_NE(area, nullptr);
  q_send_msg_by_name("/pvd/fcp0.sif", c.handle(), 0x1E00000A, area);
  ASSERT_TRUE(c.wait_answer(256));
  // A q_msg_free crash armed again by hand is gone after the reset too.
  sim_fault_crash("q_msg_free");
  sim_reset();
  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  auto d = inboxes()[0].pop(1000ms);
  ASSERT_TRUE(d);
  q_msg_free(d->message);
}

struct BadModel {
  const char* json;
  const char* message;  // part of the error text
};

void PrintTo(const BadModel& bad, std::ostream* out) {
  *out << bad.message;
}

class BadModels : public SimTest, public ::testing::WithParamInterface<BadModel> {};

const char* const kPortOk = R"("ports":[{"wwn":"2100000000000001"}])";

std::string one_adapter(const std::string& fields) {
  return R"({"adapters":[{"name":"/pvd/pci1/dev1/fcp0","node_wwn":"2000000000000001",)" + fields +
         "}]}";
}

TEST_P(BadModels, AreRefusedWithAClearErrorAndTheModelStays) {
  const BadModel& bad = GetParam();
  EXPECT_EQ(sim_load_model_json(bad.json), -1);
  std::string error = sim_last_error();
  EXPECT_NE(error.find(bad.message), std::string::npos) << error;
  Client c;
  EXPECT_EQ(adapter_count(c), 2u) << "the default model is still served";
}

const std::string kNotJson = "{\"adapters\": [";
const std::string kMissing = "{}";
const std::string kUnknownField = one_adapter(R"("ports":[{"wwn":"2100000000000001","sped":2}])");
const std::string kBadWwn =
    R"({"adapters":[{"name":"a","node_wwn":"20000000000001",)" + std::string(kPortOk) + "}]}";
const std::string kSameWwn = one_adapter(R"("ports":[{"wwn":"2000000000000001"}])");
const std::string kNoPorts = one_adapter(R"("ports":[])");
const std::string kNegative = one_adapter(R"("duplex":-1,)" + std::string(kPortOk));
const std::string kBadNumber =
    one_adapter(R"("ports":[{"wwn":"2100000000000001","speed":"fast"}])");
const std::string kLongName = R"({"adapters":[{"name":")" + std::string(64, 'n') +
                              R"(","node_wwn":"2000000000000001",)" + kPortOk + "}]}";
const std::string kTwoNames =
    R"({"adapters":[{"name":"a","node_wwn":"2000000000000001",)" + std::string(kPortOk) +
    R"(},{"name":"a","node_wwn":"2000000000000002","ports":[{"wwn":"2100000000000002"}]}]})";
const std::string kTwiceOnPort = one_adapter(
    R"("ports":[{"wwn":"2100000000000001","remote_nodes":[{"wwn":"5000000000000001"},{"wwn":"5000000000000001"}]}])");
const std::string kNegativeRate =
    one_adapter(R"("ports":[{"wwn":"2100000000000001","rates":{"tx_seqs":-1}}])");
const std::string kBadStatus =
    R"({"adapters":[],"faults":{"messages":[{"message":"0x0B00001E","lxs_status":7}]}})";
const std::string kBadCrash = R"({"adapters":[],"faults":{"crash":["q_msg_explode"]}})";
const std::string kBadSignal =
    R"({"adapters":[],"faults":{"crash":[{"function":"q_msg_init","signal":"SIGKILLME"}]}})";
const std::string kTwiceFault =
    R"({"adapters":[],"faults":{"messages":[{"message":1},{"message":"0x1"}]}})";
std::string nine_adapters() {
  std::string s = R"({"adapters":[)";
  for (int i = 0; i < 9; ++i) {
    s += std::string(i ? "," : "") + R"({"name":"a)" + std::to_string(i) +
         R"(","node_wwn":"200000000000000)" + std::to_string(i) +
         R"(","ports":[{"wwn":"210000000000000)" + std::to_string(i) + R"("}]})";
  }
  return s + "]}";
}
const std::string kNine = nine_adapters();

INSTANTIATE_TEST_SUITE_P(
    Sim, BadModels,
    ::testing::Values(
        BadModel{kNotJson.c_str(), "not valid JSON"},
        BadModel{kMissing.c_str(), "adapters: is missing"},
        BadModel{kUnknownField.c_str(), "adapters[0].ports[0].sped: is not a known field"},
        BadModel{kBadWwn.c_str(), "adapters[0].node_wwn: must be a WWN"},
        BadModel{kSameWwn.c_str(), "is already used by adapters[0].node_wwn"},
        BadModel{kNoPorts.c_str(), "adapters[0].ports: must list at least one port"},
        BadModel{kNegative.c_str(), "adapters[0].duplex: must not be negative"},
        BadModel{kBadNumber.c_str(),
                 "speed: must be a number (decimal or 0x hexadecimal), not \"fast\""},
        BadModel{kLongName.c_str(), "adapters[0].name: is longer than 63 characters"},
        BadModel{kTwoNames.c_str(), "adapters[1].name: \"a\" is already used"},
        BadModel{kTwiceOnPort.c_str(), "remote_nodes[1].wwn: 5000000000000001 is listed twice"},
        BadModel{kNegativeRate.c_str(), "rates.tx_seqs: must be a finite number of at least 0"},
        BadModel{kBadStatus.c_str(), "faults.messages[0].lxs_status: must be 2 to 5"},
        BadModel{kBadCrash.c_str(), "faults.crash[0]: \"q_msg_explode\" is not a q_ function"},
        BadModel{kBadSignal.c_str(), "signal: must be SIGSEGV, SIGBUS, SIGILL or SIGFPE"},
        BadModel{kTwiceFault.c_str(), "names a message that an earlier entry already names"},
        BadModel{kNine.c_str(), "adapters: has more than 8 entries"}),
    [](const ::testing::TestParamInfo<BadModel>& param) {
      return "Case" + std::to_string(param.index);
    });

TEST_F(Model, MissingFileIsRefused) {
  EXPECT_EQ(sim_load_model_file("/nonexistent/model.json"), -1);
  EXPECT_NE(
      std::string(sim_last_error()).find("cannot open the model file /nonexistent/model.json"),
      std::string::npos)
      << sim_last_error();
  Client c;
  EXPECT_EQ(adapter_count(c), 2u);
}

}  // namespace
}  // namespace simtest
