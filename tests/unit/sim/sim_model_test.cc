// Model loading: good and bad JSON, the example files, and their faults.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Model = SimTest;

std::string model_path(const char* name) {
  return std::string(TAVRO_SOURCE_DIR) + "/sim/models/" + name;
}

std::uint32_t adapter_count(Client& c) {
  return c.request("/pvd/fcp0.sif", 0x1E00000A, 1024).u32(4);
}

TEST_F(Model, MinimalModelWithDefaultsAndACounterPast64Bits) {
  const char* json = R"({
    "_comment": "one adapter, one port, every other field but one rate by default",
    "adapters": [ { "name": "/pvd/pci7/fcp0", "node_wwn": "20:00:00:00:c9:00:00:01",
                    "ports": [ { "wwn": "10000000C9000001", "fc_address": 1193046,
                                 "rates": { "tx_seqs": 3.3e19 } } ] } ] })";
  ASSERT_EQ(sim_load_model_json(json), 0) << sim_last_error();
  EXPECT_STREQ(sim_last_error(), "");
  Client c;
  auto info = c.request("/pvd/pci7/fcp0", 0x14000014, 512, [](std::uint8_t* d) { put32(d, 0, 2); });
  EXPECT_EQ(info.text(8), "PCI");
  const std::string port = "10000000C9000001";
  EXPECT_EQ(fcph(c, 0x15000096, port).u32(92), 0x123456u);
  EXPECT_EQ(fcph(c, 0x1500001C, port).text(84), "Quellstone Corporation");
  // Past 2^64 of growth a counter goes on, modulo 2^32 like any other: at
  // 3.3e19 a second, any link-up time of 1 to 30 seconds leaves nonzero low
  // 32 bits; a counter stuck past 2^64 would read 0.
  sim_advance_clock(1000);
  EXPECT_NE(fcph(c, 0x1500002E, port).u32(92), 0u);
}

TEST_F(Model, ExampleFile) {
  ASSERT_EQ(sim_load_model_file(model_path("example.json").c_str()), 0) << sim_last_error();
  Client c;
  EXPECT_EQ(adapter_count(c), 2u);
  auto info =
      c.request("/pvd/pci1/dev4/fcp0", 0x14000014, 512, [](std::uint8_t* d) { put32(d, 0, 1); });
  EXPECT_EQ(info.u32(4), 2u);
  EXPECT_EQ(info.text(8), "PCI-X");
  // The array is seen through both ports of the first adapter, listed once.
  EXPECT_EQ(fcph(c, 0x15000054, "200000E08B112233").u32(92), 1u);
  EXPECT_EQ(c.request("/pvd/fcp0.sif", 0x1E00000C, 256).u32(4), 1u);
}

TEST_F(Model, FaultsFromTheFileAndResetDropsThem) {
  ASSERT_EQ(sim_load_model_file(model_path("faults.json").c_str()), 0) << sim_last_error();
  // Two refused registrations, then a driver error on each registration.
  EXPECT_EQ(q_register_msg_handler(0x54410001, "TAVRO", 0, kHandlers[0]), 0);
  EXPECT_EQ(q_register_msg_handler(0x54410002, "TAVRO", 0, kHandlers[0]), 0);
  Client c(0, 0x54410003);
  ASSERT_TRUE(c.registered);
  c.drain(100ms);
  EXPECT_EQ(c.driver_errors, std::vector<std::uint32_t>{9});

  // The first allocation faults with SIGBUS (raised), the next fails; the
  // first q_msg_free faults with SIGSEGV.
  EXPECT_EQ(fault_of([] { q_msg_alloc(256, 256, 0); }), SIGBUS);
  EXPECT_EQ(q_msg_alloc(256, 256, 0), nullptr);
  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  auto first = c.inbox().pop(1000ms);
  ASSERT_TRUE(first);
  EXPECT_EQ(fault_of([&] { q_msg_free(first->message); }), SIGSEGV);
  q_msg_free(first->message);

  EXPECT_EQ(fcph(c, 0x1500001C, kPort0).number, 0x1500001Fu);
  EXPECT_EQ(fcph(c, 0x1500001E, kPort0).number, 0x15000021u);
  auto object = lxs(c, 5, kNode0);
  EXPECT_EQ(object.u32(0), 6u);
  EXPECT_EQ(object.u32(16), 3u);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(fcph(c, 0x15000016, kPort0));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_FALSE(c.request(
      "fcph", 0x15000018, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); }, 200ms));
  EXPECT_EQ(c.driver_errors, (std::vector<std::uint32_t>{9, 7}));

  sim_reset();
  EXPECT_EQ(adapter_count(c), 2u) << "back to the default model";
  EXPECT_EQ(fcph(c, 0x15000018, kPort0).number, 0x15000019u);
  // A q_msg_free crash armed again by hand is gone after the reset too
  // (the answer is freed with q_msg_free).
  sim_fault_crash("q_msg_free");
  sim_reset();
  EXPECT_TRUE(c.request("/pvd/fcp0.sif", 0x1E00000A, 1024));
}

// One adapter "a" with this node WWN and these ports.
std::string one_adapter(const std::string& node, const std::string& ports) {
  return R"({"adapters":[{"name":"a","node_wwn":")" + node + R"(","ports":[)" + ports + "]}]}";
}
// One adapter whose one port has the given fields after its WWN.
std::string port(const std::string& fields) {
  return one_adapter("2000000000000001", R"({"wwn":"2100000000000001")" + fields + "}");
}
// Adapters by these names, each with its own WWNs and one port; fields go
// into every adapter.
std::string adapters(const std::vector<std::string>& names, const std::string& fields = "") {
  std::string list;
  for (std::size_t i = 1; i <= names.size(); ++i) {
    list += (i > 1 ? R"(,{"name":")" : R"({"name":")") + names[i - 1] + R"(",)" + fields +
            R"("node_wwn":"200000000000000)" + std::to_string(i) +
            R"(","ports":[{"wwn":"210000000000000)" + std::to_string(i) + R"("}]})";
  }
  return R"({"adapters":[)" + list + "]}";
}
std::string faults(const std::string& section) {
  return R"({"adapters":[],"faults":)" + section + "}";
}

TEST_F(Model, BadModelsAreRefusedWithAClearErrorAndTheModelStays) {
  const struct {
    std::string json;
    const char* message;  // part of the error text
  } bad_models[] = {
      {"{\"adapters\": [", "not valid JSON"},
      {"{}", "adapters: is missing"},
      {port(R"(,"sped":2)"), "adapters[0].ports[0].sped: is not a known field"},
      {one_adapter("20000000000001", R"({"wwn":"2100000000000001"})"),
       "adapters[0].node_wwn: must be a WWN"},
      {one_adapter("2000000000000001", R"({"wwn":"2000000000000001"})"),
       "is already used by adapters[0].node_wwn"},
      {one_adapter("2000000000000001", ""), "adapters[0].ports: must list at least one port"},
      {adapters({"a"}, R"("duplex":-1,)"), "adapters[0].duplex: must not be negative"},
      {port(R"(,"speed":"fast")"),
       "speed: must be a number (decimal or 0x hexadecimal), not \"fast\""},
      {adapters({std::string(64, 'n')}), "adapters[0].name: is longer than 63 characters"},
      {adapters({"a", "a"}), "adapters[1].name: \"a\" is already used"},
      {port(R"(,"remote_nodes":[{"wwn":"5000000000000001"},{"wwn":"5000000000000001"}])"),
       "remote_nodes[1].wwn: 5000000000000001 is listed twice"},
      {port(R"(,"rates":{"tx_seqs":-1})"), "rates.tx_seqs: must be a finite number of at least 0"},
      {faults(R"({"messages":[{"message":"0x0B00001E","lxs_status":7}]})"),
       "faults.messages[0].lxs_status: must be 2 to 5"},
      {faults(R"({"crash":["q_msg_explode"]})"),
       "faults.crash[0]: \"q_msg_explode\" is not a q_ function"},
      {faults(R"({"crash":[{"function":"q_msg_init","signal":"SIGKILLME"}]})"),
       "signal: must be SIGSEGV, SIGBUS, SIGILL or SIGFPE"},
      {faults(R"({"messages":[{"message":1},{"message":"0x1"}]})"),
       "names a message that an earlier entry already names"},
      {adapters({"a0", "a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8"}),
       "adapters: has more than 8 entries"}};
  Client c;
  for (const auto& bad : bad_models) {
    SCOPED_TRACE(bad.message);
    EXPECT_EQ(sim_load_model_json(bad.json.c_str()), -1);
    const std::string error = sim_last_error();
    EXPECT_NE(error.find(bad.message), std::string::npos) << error;
    EXPECT_EQ(adapter_count(c), 2u) << "the default model is still served";
  }
}

}  // namespace
}  // namespace simtest
