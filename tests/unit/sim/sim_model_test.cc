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

TEST_F(Model, CountersWrapInsteadOfStoppingPast64Bits) {
  // Past 2^64 of growth the counter goes on, modulo 2^32 like any other.
  const char* json = R"({
    "adapters": [ { "name": "/pvd/pci7/fcp0", "node_wwn": "2000000000000001",
                    "ports": [ { "wwn": "1000000000000001", "rates": { "tx_seqs": 3.3e19 } } ] } ] })";
  ASSERT_EQ(sim_load_model_json(json), 0) << sim_last_error();
  sim_advance_clock(1000);
  Client c;
  auto seqs = fcph(c, 0x1500002E, "1000000000000001");
  ASSERT_TRUE(seqs);
  // At 3.3e19 a second, any link-up time of 1 to 30 seconds leaves nonzero
  // low 32 bits; a counter stuck past 2^64 would read 0.
  EXPECT_NE(get32(seqs->data, 92), 0u);
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
  EXPECT_EQ(fault_of([] { q_msg_alloc(256, 256, 0); }), SIGBUS);
  EXPECT_EQ(q_msg_alloc(256, 256, 0), nullptr);
  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  auto first = inboxes()[0].pop(1000ms);
  ASSERT_TRUE(first);
  EXPECT_EQ(fault_of([&] { q_msg_free(first->message); }), SIGSEGV);
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
  auto* area = static_cast<std::uint8_t*>(q_msg_alloc(1024, 1024, 0));  // no crash left
  ASSERT_NE(area, nullptr);
  c.stamp_fields(0x1E00000A, area, 1024);
  q_send_msg_by_name("/pvd/fcp0.sif", c.handle(), 0x1E00000A, area);
  ASSERT_TRUE(c.wait_answer(1024));
  // A q_msg_free crash armed again by hand is gone after the reset too.
  sim_fault_crash("q_msg_free");
  sim_reset();
  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  auto d = inboxes()[0].pop(1000ms);
  ASSERT_TRUE(d);
  q_msg_free(d->message);
}

struct BadModel {
  std::string json;
  const char* message;  // part of the error text
};

void PrintTo(const BadModel& bad, std::ostream* out) {
  *out << bad.message;
}

class BadModels : public SimTest, public ::testing::WithParamInterface<BadModel> {};

TEST_P(BadModels, AreRefusedWithAClearErrorAndTheModelStays) {
  const BadModel& bad = GetParam();
  EXPECT_EQ(sim_load_model_json(bad.json.c_str()), -1);
  std::string error = sim_last_error();
  EXPECT_NE(error.find(bad.message), std::string::npos) << error;
  Client c;
  EXPECT_EQ(adapter_count(c), 2u) << "the default model is still served";
}

// Adapter i (from 0) with its node WWN and one port; extra fields go first.
std::string adapter(int i, const std::string& name, const std::string& fields = "") {
  std::string n = std::to_string(i + 1);
  return R"({"name":")" + name + R"(",)" + fields + R"("node_wwn":"200000000000000)" + n +
         R"(","ports":[{"wwn":"210000000000000)" + n + R"("}]})";
}
std::string adapters(const std::string& list) {
  return R"({"adapters":[)" + list + "]}";
}
// One adapter whose one port has the given fields after its WWN.
std::string port(const std::string& fields) {
  return adapters(
      R"({"name":"a","node_wwn":"2000000000000001","ports":[{"wwn":"2100000000000001")" + fields +
      "}]}");
}
std::string faults(const std::string& section) {
  return R"({"adapters":[],"faults":)" + section + "}";
}
std::string nine_adapters() {
  std::string list = adapter(0, "a0");
  for (int i = 1; i < 9; ++i) list += "," + adapter(i, "a" + std::to_string(i));
  return adapters(list);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, BadModels,
    ::testing::Values(
        BadModel{"{\"adapters\": [", "not valid JSON"}, BadModel{"{}", "adapters: is missing"},
        BadModel{port(R"(,"sped":2)"), "adapters[0].ports[0].sped: is not a known field"},
        BadModel{adapters(R"({"name":"a","node_wwn":"20000000000001","ports":[{"wwn":)"
                          R"("2100000000000001"}]})"),
                 "adapters[0].node_wwn: must be a WWN"},
        BadModel{adapters(R"({"name":"a","node_wwn":"2000000000000001","ports":[{"wwn":)"
                          R"("2000000000000001"}]})"),
                 "is already used by adapters[0].node_wwn"},
        BadModel{adapters(R"({"name":"a","node_wwn":"2000000000000001","ports":[]})"),
                 "adapters[0].ports: must list at least one port"},
        BadModel{adapters(adapter(0, "a", R"("duplex":-1,)")),
                 "adapters[0].duplex: must not be negative"},
        BadModel{port(R"(,"speed":"fast")"),
                 "speed: must be a number (decimal or 0x hexadecimal), not \"fast\""},
        BadModel{adapters(adapter(0, std::string(64, 'n'))),
                 "adapters[0].name: is longer than 63 characters"},
        BadModel{adapters(adapter(0, "a") + "," + adapter(1, "a")),
                 "adapters[1].name: \"a\" is already used"},
        BadModel{port(R"(,"remote_nodes":[{"wwn":"5000000000000001"},{"wwn":"5000000000000001"}])"),
                 "remote_nodes[1].wwn: 5000000000000001 is listed twice"},
        BadModel{port(R"(,"rates":{"tx_seqs":-1})"),
                 "rates.tx_seqs: must be a finite number of at least 0"},
        BadModel{faults(R"({"messages":[{"message":"0x0B00001E","lxs_status":7}]})"),
                 "faults.messages[0].lxs_status: must be 2 to 5"},
        BadModel{faults(R"({"crash":["q_msg_explode"]})"),
                 "faults.crash[0]: \"q_msg_explode\" is not a q_ function"},
        BadModel{faults(R"({"crash":[{"function":"q_msg_init","signal":"SIGKILLME"}]})"),
                 "signal: must be SIGSEGV, SIGBUS, SIGILL or SIGFPE"},
        BadModel{faults(R"({"messages":[{"message":1},{"message":"0x1"}]})"),
                 "names a message that an earlier entry already names"},
        BadModel{nine_adapters(), "adapters: has more than 8 entries"}),
    [](const ::testing::TestParamInfo<BadModel>& param) {
      return "Case" + std::to_string(param.index);
    });

}  // namespace
}  // namespace simtest
