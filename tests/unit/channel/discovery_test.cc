// Adapter discovery over the simulated driver.
#include "channel/discovery.h"

#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;

class DiscoveryTest : public ChannelTest {
 protected:
  using Op = std::function<Transaction(Channel&, char*, std::size_t)>;
  // Runs one operation on a request buffer that holds instance text.
  std::string run(const Op& op, const std::string& instance) {
    std::snprintf(buffer_, sizeof buffer_, "%s", instance.c_str());
    last_ = op(*channel_, buffer_, sizeof buffer_);
    return buffer_;
  }
  static Op info(int code) {
    return [code](Channel& c, char* t, std::size_t n) { return qdn_get_adapt_info(c, t, n, code); };
  }
  static std::string slot(const std::string& name) {
    char text[128];
    std::snprintf(text, sizeof text, "%s", name.c_str());
    bus_and_slot(text, sizeof text);
    return text;
  }

  char buffer_[4096];
};

TEST_F(DiscoveryTest, FindsTheAdaptersStepByStep) {
  open(settings(300));
  // The first adapter's count, name, information, port and duplex state are
  // read through the daemon (tests/e2e/objects).
  std::string second = run(adapter_name, "1.7 trailing");
  EXPECT_EQ(second, "/pvd/pci3/fcp1");
  EXPECT_EQ(run(info(1), second), "2");
  EXPECT_EQ(run(info(3), second + ".0"), "QS Other");
  EXPECT_EQ(run(duplex_status, second), "200");

  // An information code other than 1 to 3 is answered with nothing.
  EXPECT_EQ(run(info(4), "/pvd/pci2/dev5/fcp0"), "Error: driver timeout");
  // An adapter name the driver does not know is answered with an error at once.
  EXPECT_EQ(run(duplex_status, "/pvd/none"),
            "Error:  HPD_LTX_DUPLEX_STATUS: No such adapter, port, node or index");
}

TEST_F(DiscoveryTest, AdapterNameByIndexGoesToThatIndexDestination) {
  const std::string model = tavro::testing::test_data("unit/channel/four_adapters.json");
  ASSERT_EQ(sim_load_model_json(model.c_str()), 0);
  open(settings(300));
  EXPECT_EQ(run(adapter_count, ""), "4");
  EXPECT_EQ(run(adapter_name, "3"), "/pvd/pci4/dev4/fcp3");
  // Indexes 0 to 7 have a destination each; no other is asked, and its
  // refused request takes no message from the library.
  EXPECT_EQ(run(adapter_name, "5"), "Error:  LXS_GET_ADAPTER_NAME: Operation failed");
  ASSERT_EQ(sim_wait_idle(2000), 0);
  const std::uint32_t sent = sim_requests_received(), held = sim_messages_outstanding();
  EXPECT_EQ(run(adapter_name, "8"), "Error:  LXS_GET_ADAPTER_NAME: Operation failed");
  EXPECT_EQ(last_, Transaction::kRefused);
  EXPECT_EQ(sim_requests_received(), sent);
  EXPECT_EQ(sim_messages_outstanding(), held);
}

TEST_F(DiscoveryTest, BusAndSlotTexts) {
  EXPECT_EQ(slot("pci7"), "Bus 7, Slot ?");
  EXPECT_EQ(slot("/pvd/isa/fcp0"), "Bus ?, Slot ?");
  EXPECT_EQ(slot("pci12dev3"), "Bus 12, Slot 3");
  std::string long_name = "/pvd/pci1/dev2/" + std::string(200, 'x');
  EXPECT_EQ(slot(long_name), "Bus 1, Slot 2");
  char tiny[8] = "pci2dev";
  bus_and_slot(tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "Bus 2, ");
}

}  // namespace
}  // namespace channel_test
