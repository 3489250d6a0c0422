// What writes change beyond the value read back (which the channel tests
// check), and the driver events that model changes send.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Writes = SimTest;

TEST_F(Writes, PortStateZeroTakesTheLinkDown) {
  Client c;
  auto set = fcph(c, 0x1500001A, kPort0, [](std::uint8_t* d) { put32(d, 88, 0); });
  ASSERT_TRUE(set);
  EXPECT_EQ(set->number, 0x1500001Bu);
  EXPECT_EQ(get32(set->data, 16), 0u);

  auto state = fcph(c, 0x15000018, kPort0);
  auto link = fcph(c, 0x15000042, kPort0);
  auto transitions = fcph(c, 0x15000044, kPort0);
  auto address = fcph(c, 0x15000096, kPort0);
  auto node_status = lxs(c, 3, kNode0);
  ASSERT_TRUE(state && link && transitions && address && node_status);
  EXPECT_EQ(get32(state->data, 84), 0u);
  EXPECT_EQ(get32(link->data, 92), 0u);
  EXPECT_EQ(get32(transitions->data, 92), 2u);
  EXPECT_EQ(get32(address->data, 92), 0u) << "no FC address without a link";
  EXPECT_EQ(text_at(node_status->data, 112), "Link Down");
  EXPECT_EQ(sim_set_link(0, 0, 1), -2) << "a disabled port keeps its link down";

  set = fcph(c, 0x1500001A, kPort0, [](std::uint8_t* d) { put32(d, 88, 1); });
  ASSERT_TRUE(set);
  link = fcph(c, 0x15000042, kPort0);
  address = fcph(c, 0x15000096, kPort0);
  node_status = lxs(c, 3, kNode0);
  ASSERT_TRUE(link && address && node_status);
  EXPECT_EQ(get32(link->data, 92), 1u);
  EXPECT_EQ(get32(address->data, 92), 0x010200u);
  EXPECT_EQ(text_at(node_status->data, 112), "Online");

  c.drain(100ms);
  ASSERT_EQ(c.events.size(), 2u);
  EXPECT_EQ(c.events[0].severity, 611u);
  EXPECT_EQ(c.events[0].text, "Link down on adapter /pvd/pci2/dev5/fcp0 port 0 (" + kPort0 + ")");
  EXPECT_EQ(c.events[1].severity, 411u);
  EXPECT_EQ(c.events[1].text, "Link up on adapter /pvd/pci2/dev5/fcp0 port 0 (" + kPort0 + ")");
}

TEST_F(Writes, WwnChangesMoveEveryLookupAndAWwnInUseIsRefused) {
  Client c;
  auto taken_port = fcph(c, 0x15000082, kPort0, [](std::uint8_t* d) { put_wwn(d, 88, kPort1); });
  auto taken_node = fcph(c, 0x15000050, "", [](std::uint8_t* d) {
    put_wwn(d, 84, kNode0);
    put_wwn(d, 92, kNode1);
  });
  ASSERT_TRUE(taken_port && taken_node);
  EXPECT_EQ(get32(taken_port->data, 16), 2u);
  EXPECT_EQ(get32(taken_node->data, 16), 2u);

  const std::string port = "210000E08B0A0B0C";
  const std::string node = "200000E08B777777";
  auto set_port = fcph(c, 0x15000082, kPort0, [&](std::uint8_t* d) { put_wwn(d, 88, port); });
  auto set_node = fcph(c, 0x15000050, "", [&](std::uint8_t* d) {
    put_wwn(d, 84, kNode1);
    put_wwn(d, 92, node);
  });
  ASSERT_TRUE(set_port && set_node);
  EXPECT_EQ(set_port->number, 0x15000083u);
  EXPECT_EQ(get32(set_port->data, 16), 0u);
  EXPECT_EQ(set_node->number, 0x15000051u);
  EXPECT_EQ(get32(set_node->data, 16), 0u);

  auto old_port = fcph(c, 0x15000016, kPort0);
  auto factory = fcph(c, 0x15000028, port);
  auto node_port = fcph(c, 0x15000070, "", [](std::uint8_t* d) { put_wwn(d, 84, kNode0); });
  auto adapter_port = c.request("/pvd/pci2/dev5/fcp0", 0x14000016, 256);
  auto old_node = fcph(c, 0x15000052, kNode1);
  auto new_node = fcph(c, 0x15000052, node);
  ASSERT_TRUE(old_port && factory && node_port && adapter_port && old_node && new_node);
  EXPECT_EQ(get32(old_port->data, 16), 2u);
  EXPECT_EQ(hex_at(factory->data, 84), kPort0) << "the factory WWN stays";
  EXPECT_EQ(hex_at(node_port->data, 88), port);
  EXPECT_EQ(hex_at(adapter_port->data, 4), port);
  EXPECT_EQ(get32(old_node->data, 16), 2u);
  EXPECT_EQ(get32(new_node->data, 92), 1u);
}

TEST_F(Writes, LxsObjectsAndTheTargetServiceShareTheirValuesPerPath) {
  Client c;
  // The array is seen by both adapters, each path with its own target ID.
  auto set = target(c, 0x1E00000F, kNode1, kArray, 5);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->number, 0x9E00000Fu);
  ASSERT_TRUE(lxs(c, 0x8000000Eu, kNode0, kArray, 0, [](std::uint8_t* d) { put32(d, 112, 9); }));
  auto path1 = target(c, 0x1E00000E, kNode1, kArray);
  auto path0 = target(c, 0x1E00000E, kNode0, kArray);
  auto path1_object = lxs(c, 14, kNode1, kArray);
  ASSERT_TRUE(path1 && path0 && path1_object);
  EXPECT_EQ(path1->number, 0x9E00000Eu);
  EXPECT_EQ(get32(path1->data, 0), 9u);
  EXPECT_EQ(get32(path1->data, 20), 5u);
  EXPECT_EQ(get32(path0->data, 20), 9u);
  EXPECT_EQ(get32(path1_object->data, 112), 5u);

  // The FCP manual SCSI-ID mode is LXS object 1.
  ASSERT_TRUE(c.request("/pvd/fcp0.sif", 0x1E00000D, 256, [](std::uint8_t* d) { put32(d, 4, 1); }));
  auto object = lxs(c, 1, "");
  ASSERT_TRUE(object);
  EXPECT_EQ(get32(object->data, 16), 0u);
  EXPECT_EQ(get32(object->data, 112), 1u);
}

TEST_F(Writes, UnblockingARemoteNodeSendsAnEvent) {
  Client c;
  auto set = target(c, 0x1E000011, kNode1, kJbod, 0);  // the programs send 2 as 0
  ASSERT_TRUE(set);
  EXPECT_EQ(set->number, 0x9E000011u);
  auto object = lxs(c, 15, kNode1, kJbod);
  ASSERT_TRUE(object);
  EXPECT_EQ(get32(object->data, 112), 0u);
  c.drain(100ms);
  ASSERT_EQ(c.events.size(), 1u);
  EXPECT_EQ(c.events[0].severity, 411u);
  EXPECT_NE(c.events[0].text.find(kJbod + " unblocked"), std::string::npos) << c.events[0].text;
}

TEST_F(Writes, LinkChangesAndDriverErrorsReachEveryRegistration) {
  Client a(0, 0x54410001);
  Client b(1, 0x534E0001, "SNMP");
  ASSERT_TRUE(a.registered() && b.registered());
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
    ASSERT_EQ(c->events.size(), 1u);
    EXPECT_EQ(c->events[0].severity, 611u);
    EXPECT_EQ(c->events[0].text,
              "Link down on adapter /pvd/pci3/dev1/fcp1 port 0 (" + kPort1 + ")");
    EXPECT_EQ(c->driver_errors, std::vector<std::uint32_t>{7});
  }
  auto link = fcph(a, 0x15000042, kPort1);
  ASSERT_TRUE(link);
  EXPECT_EQ(get32(link->data, 92), 0u);
}

TEST_F(Writes, AnswerComesBeforeTheEventsItCauses) {
  Client c;
  ASSERT_TRUE(c.send("fcph", 0x1500001A, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort1); }));
  auto d1 = inboxes()[0].pop(1000ms);
  auto d2 = inboxes()[0].pop(1000ms);
  ASSERT_TRUE(d1 && d2);
  EXPECT_EQ(qfc::message_number(d1->message), 0x1500001Bu);
  EXPECT_EQ(qfc::message_number(d2->message), 0x0300000Bu);
  q_msg_free(d1->message);
  q_msg_free(d2->message);
}

}  // namespace
}  // namespace simtest
