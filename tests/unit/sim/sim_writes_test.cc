// FCPH writes and the driver events that model changes send.
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
  ASSERT_TRUE(link && address);
  EXPECT_EQ(get32(link->data, 92), 1u);
  EXPECT_EQ(get32(address->data, 92), 0x010200u);

  c.drain(100ms);
  ASSERT_EQ(c.events.size(), 2u);
  EXPECT_EQ(c.events[0].severity, 611u);
  EXPECT_EQ(c.events[0].text, "Link down on adapter /pvd/pci2/dev5/fcp0 port 0 (" + kPort0 + ")");
  EXPECT_EQ(c.events[1].severity, 411u);
  EXPECT_EQ(c.events[1].text, "Link up on adapter /pvd/pci2/dev5/fcp0 port 0 (" + kPort0 + ")");
}

TEST_F(Writes, PortWwnChangeMovesEveryLookup) {
  Client c;
  const std::string fresh = "210000E08B0A0B0C";
  auto set = fcph(c, 0x15000082, kPort0, [&](std::uint8_t* d) { put_wwn(d, 88, fresh); });
  ASSERT_TRUE(set);
  EXPECT_EQ(set->number, 0x15000083u);
  EXPECT_EQ(get32(set->data, 16), 0u);

  auto old_speed = fcph(c, 0x15000016, kPort0);
  auto new_speed = fcph(c, 0x15000016, fresh);
  auto factory = fcph(c, 0x15000028, fresh);
  auto node_port = fcph(c, 0x15000070, "", [](std::uint8_t* d) { put_wwn(d, 84, kNode0); });
  auto adapter_port = c.request("/pvd/pci2/dev5/fcp0", 0x14000016, 256);
  ASSERT_TRUE(old_speed && new_speed && factory && node_port && adapter_port);
  EXPECT_EQ(get32(old_speed->data, 16), 2u);
  EXPECT_EQ(get32(new_speed->data, 16), 0u);
  EXPECT_EQ(get32(new_speed->data, 84), 2u);
  EXPECT_EQ(hex_at(factory->data, 84), kPort0) << "the factory WWN stays";
  EXPECT_EQ(hex_at(node_port->data, 88), fresh);
  EXPECT_EQ(hex_at(adapter_port->data, 4), fresh);
}

TEST_F(Writes, WwnAlreadyInUseIsRefused) {
  Client c;
  auto port = fcph(c, 0x15000082, kPort0, [](std::uint8_t* d) { put_wwn(d, 88, kPort1); });
  auto node = fcph(c, 0x15000050, "", [](std::uint8_t* d) {
    put_wwn(d, 84, kNode0);
    put_wwn(d, 92, kNode1);
  });
  ASSERT_TRUE(port && node);
  EXPECT_EQ(get32(port->data, 16), 2u);
  EXPECT_EQ(get32(node->data, 16), 2u);
  auto still = fcph(c, 0x15000016, kPort0);
  ASSERT_TRUE(still);
  EXPECT_EQ(get32(still->data, 16), 0u);
}

TEST_F(Writes, NodeWwnChange) {
  Client c;
  const std::string fresh = "200000E08B777777";
  auto set = fcph(c, 0x15000050, "", [&](std::uint8_t* d) {
    put_wwn(d, 84, kNode1);
    put_wwn(d, 92, fresh);
  });
  ASSERT_TRUE(set);
  EXPECT_EQ(set->number, 0x15000051u);
  EXPECT_EQ(get32(set->data, 16), 0u);
  auto by_index = fcph(c, 0x15000048, "", [](std::uint8_t* d) { put32(d, 80, 1); });
  auto old_ports = fcph(c, 0x15000052, kNode1);
  auto new_ports = fcph(c, 0x15000052, fresh);
  ASSERT_TRUE(by_index && old_ports && new_ports);
  EXPECT_EQ(hex_at(by_index->data, 88), fresh);
  EXPECT_EQ(get32(old_ports->data, 16), 2u);
  EXPECT_EQ(get32(new_ports->data, 92), 1u);
}

TEST_F(Writes, UserTopology) {
  Client c;
  auto set = fcph(c, 0x15000086, kPort1, [](std::uint8_t* d) { put32(d, 88, 3); });
  ASSERT_TRUE(set);
  EXPECT_EQ(set->number, 0x15000087u);
  auto read = fcph(c, 0x15000084, kPort1);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->number, 0x15000085u);
  EXPECT_EQ(get32(read->data, 84), 3u);
  auto other = fcph(c, 0x15000084, kPort0);
  ASSERT_TRUE(other);
  EXPECT_EQ(get32(other->data, 84), 0u);
}

TEST_F(Writes, LinkChangeSendsOneEventToEveryRegistration) {
  Client a(0, 0x54410001);
  Client b(1, 0x534E0001, "SNMP");
  ASSERT_TRUE(a.registered() && b.registered());
  std::uint32_t events = sim_events_delivered();
  ASSERT_EQ(sim_set_link(1, 0, 0), 0);
  ASSERT_EQ(sim_set_link(1, 0, 0), 0);  // no change, no event
  EXPECT_EQ(sim_set_link(2, 0, 0), -1);
  EXPECT_EQ(sim_set_link(1, 1, 0), -1);
  ASSERT_EQ(sim_wait_idle(1000), 0);
  a.drain(50ms);
  b.drain(50ms);
  EXPECT_EQ(sim_events_delivered(), events + 2);
  for (Client* c : {&a, &b}) {
    ASSERT_EQ(c->events.size(), 1u);
    EXPECT_EQ(c->events[0].severity, 611u);
    EXPECT_EQ(c->events[0].text,
              "Link down on adapter /pvd/pci3/dev1/fcp1 port 0 (" + kPort1 + ")");
  }
  auto link = fcph(a, 0x15000042, kPort1);
  ASSERT_TRUE(link);
  EXPECT_EQ(get32(link->data, 92), 0u);
}

TEST_F(Writes, ControlledEvent) {
  Client c;
  sim_send_event(711, "Adapter firmware reported a fault");
  ASSERT_EQ(sim_wait_idle(1000), 0);
  c.drain(50ms);
  ASSERT_EQ(c.events.size(), 1u);
  EXPECT_EQ(c.events[0].severity, 711u);
  EXPECT_EQ(c.events[0].text, "Adapter firmware reported a fault");
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
