// What writes change beyond the value read back (which the channel tests
// check), and the driver events that model changes send.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Writes = SimTest;

TEST_F(Writes, PortStateZeroTakesTheLinkDown) {
  Client c;
  EXPECT_EQ(fcph(c, 0x1500001A, kPort0, [](std::uint8_t* d) { put32(d, 88, 0); }).number_and(16),
            std::pair(0x1500001Bu, 0u));
  EXPECT_EQ(fcph(c, 0x15000042, kPort0).u32(92), 0u);
  EXPECT_EQ(fcph(c, 0x15000044, kPort0).u32(92), 2u);
  EXPECT_EQ(lxs(c, 3, kNode0).text(112), "Link Down");
  EXPECT_EQ(sim_set_link(0, 0, 1), -2) << "a disabled port keeps its link down";

  EXPECT_TRUE(fcph(c, 0x1500001A, kPort0, [](std::uint8_t* d) { put32(d, 88, 1); }));
  EXPECT_EQ(fcph(c, 0x15000042, kPort0).u32(92), 1u);
  c.drain(100ms);
  EXPECT_EQ(c.events, (std::vector<std::string>{
                          "611 Link down on adapter /pvd/pci2/dev5/fcp0 port 0 (" + kPort0 + ")",
                          "411 Link up on adapter /pvd/pci2/dev5/fcp0 port 0 (" + kPort0 + ")"}));
}

// The new values are read back end to end (tests/e2e/objects).
TEST_F(Writes, AWwnInUseIsRefusedAndARenamedPortAnswersOnlyByItsNewWwn) {
  Client c;
  auto set_port_wwn = [&](const std::string& to) {
    return fcph(c, 0x15000082, kPort0, [&](std::uint8_t* d) { put_wwn(d, 88, to); });
  };
  EXPECT_EQ(set_port_wwn(kPort1).u32(16), 7u);
  EXPECT_EQ(
      fcph(c, 0x15000050, "", [](std::uint8_t* d) { put_wwn(d, 84, kNode0 + kNode1); }).u32(16),
      7u);
  EXPECT_EQ(set_port_wwn("210000E08B0A0B0C").number_and(16), std::pair(0x15000083u, 0u));
  EXPECT_EQ(fcph(c, 0x15000016, kPort0).u32(16), 2u);
}

TEST_F(Writes, LxsObjectsAndTheTargetServiceShareTheirValuesPerPath) {
  Client c;
  // The array is seen by both adapters, each path with its own target ID.
  EXPECT_EQ(target(c, 0x1E00000F, kNode1, kArray, 5).number, 0x9E00000Fu);
  EXPECT_TRUE(lxs(c, 0x8000000Eu, kNode0, kArray, 0, [](std::uint8_t* d) { put32(d, 112, 9); }));
  EXPECT_EQ(target(c, 0x1E00000E, kNode1, kArray).u32(20), 5u);
  EXPECT_EQ(target(c, 0x1E00000E, kNode0, kArray).u32(20), 9u);
  EXPECT_EQ(lxs(c, 14, kNode1, kArray).u32(112), 5u);

  // The FCP manual SCSI-ID mode is LXS object 1.
  EXPECT_TRUE(c.request("/pvd/fcp0.sif", 0x1E00000D, 256, [](std::uint8_t* d) { put32(d, 4, 1); }));
  auto object = lxs(c, 1, "");
  EXPECT_EQ(object.u32(16), 0u);
  EXPECT_EQ(object.u32(112), 1u);

  // Unblocking a remote node (the programs send 2 as 0) sends an event.
  EXPECT_EQ(target(c, 0x1E000011, kNode1, kJbod, 0).number, 0x9E000011u);
  EXPECT_EQ(lxs(c, 15, kNode1, kJbod).u32(112), 0u);
  c.drain(100ms);
  EXPECT_EQ(c.events, std::vector<std::string>{"411 Remote node " + kJbod +
                                               " unblocked on adapter /pvd/pci3/dev1/fcp1"});
}

TEST_F(Writes, LinkChangesAndDriverErrorsReachEveryRegistration) {
  Client a(0, 0x54410001);
  Client b(1, 0x534E0001, "SNMP");
  ASSERT_TRUE(a.registered && b.registered);
  std::uint32_t events = sim_events_delivered();
  ASSERT_EQ(sim_set_link(1, 0, 0), 0);
  ASSERT_EQ(sim_set_link(1, 0, 0), 0);  // no change, no event
  EXPECT_EQ(sim_set_link(2, 0, 0), -1);
  EXPECT_EQ(sim_set_link(1, 1, 0), -1);
  sim_fault_driver_error(7);
  ASSERT_EQ(sim_wait_idle(1000), 0);
  a.drain(50ms);
  b.drain(50ms);
  EXPECT_EQ(sim_events_delivered(), events + 2);
  for (Client* c : {&a, &b}) {
    EXPECT_EQ(c->events, std::vector<std::string>{"611 Link down on adapter /pvd/pci3/dev1/fcp1 "
                                                  "port 0 (" +
                                                  kPort1 + ")"});
    EXPECT_EQ(c->driver_errors, std::vector<std::uint32_t>{7});
  }
}

TEST_F(Writes, AnswerComesBeforeTheEventsItCauses) {
  Client c;
  ASSERT_TRUE(c.send("fcph", 0x1500001A, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort1); }));
  for (std::uint32_t number : {0x1500001Bu, 0x0300000Bu}) {
    auto d = c.inbox().pop(1000ms);
    ASSERT_TRUE(d);
    EXPECT_EQ(number_of(d->message), number);
    q_msg_free(d->message);
  }
}

}  // namespace
}  // namespace simtest
