// Model loading: bad models are refused with a clear error.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Model = SimTest;

std::uint32_t adapter_count(Client& c) {
  return c.request("/pvd/fcp0.sif", 0x1E00000A, 1024).u32(4);
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
