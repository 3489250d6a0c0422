// FCPH port and node attributes ("fcph"): the value of each request
// at the offset the dispatcher reads it from.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Fcph = SimTest;

TEST_F(Fcph, PortAttributesAtTheirOffsets) {
  Client c;
  struct Row {
    std::uint32_t request;
    std::size_t offset;
    std::uint32_t value;
  };
  const Row rows[] = {
      {0x15000016, 84, 2},         // speed
      {0x15000018, 84, 1},         // state
      {0x15000026, 84, 1},         // topology
      {0x1500002C, 96, 3},         // supported class number
      {0x1500003E, 92, 2},         // physical type
      {0x15000040, 92, 3},         // connector type
      {0x15000042, 92, 1},         // link state: up
      {0x15000044, 92, 1},         // link transitions
      {0x15000084, 84, 0},         // user topology
      {0x15000096, 92, 0x010200},  // FC address
  };
  for (const Row& row : rows) {
    auto a = fcph(c, row.request, kPort0);
    ASSERT_TRUE(a) << std::hex << row.request;
    EXPECT_EQ(a->number, row.request + 1);
    EXPECT_EQ(get32(a->data, 12), row.request) << "the request fields stay";
    EXPECT_EQ(get32(a->data, 16), 0u) << std::hex << row.request;
    EXPECT_EQ(get32(a->data, row.offset), row.value) << std::hex << row.request;
  }
}

TEST_F(Fcph, PortTextsAt84) {
  Client c;
  const std::pair<std::uint32_t, const char*> rows[] = {
      {0x1500001C, "Quellstone Corporation"},
      {0x1500001E, "3.03"},
      {0x15000020, "QS10020346"},
      {0x15000022, "QS-2310 2Gb Fibre Channel Port"},
      {0x15000024, "FW 3.03.15"}};
  for (auto [request, text] : rows) {
    auto a = fcph(c, request, kPort1);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->number, request + 1);
    EXPECT_EQ(text_at(a->data, 84), text);
  }
}

TEST_F(Fcph, FactoryWwnAt84) {
  Client c;
  auto a = fcph(c, 0x15000028, kPort0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x15000029u);
  EXPECT_EQ(hex_at(a->data, 84), kPort0);
}

TEST_F(Fcph, PortCountersAt92AtLeastTheirLoadValues) {
  Client c;
  const std::pair<std::uint32_t, std::uint32_t> rows[] = {
      {0x1500002E, 1000},    {0x15000030, 1200}, {0x15000032, 2048000},
      {0x15000034, 2457600}, {0x15000036, 1},    {0x15000038, 2}};
  for (auto [request, initial] : rows) {
    auto a = fcph(c, request, kPort0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->number, request + 1);
    EXPECT_GE(get32(a->data, 92), initial) << std::hex << request;
    EXPECT_LT(get32(a->data, 92), initial + initial / 2 + 100) << std::hex << request;
  }
}

TEST_F(Fcph, NodeWwnAddressesTheAdaptersFirstPort) {
  // The standard MIB agent sends the adapter's node WWN at 80.
  Client c;
  auto a = fcph(c, 0x15000096, kNode1);
  ASSERT_TRUE(a);
  EXPECT_EQ(get32(a->data, 92), 0x020200u);
  auto serial = fcph(c, 0x15000020, kNode0);
  ASSERT_TRUE(serial);
  EXPECT_EQ(text_at(serial->data, 84), "QS10020345");
}

TEST_F(Fcph, UnknownPortWwnIsAnsweredWithStatus2AndNoValue) {
  Client c;
  auto a = fcph(c, 0x15000016, "1111111111111111");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x15000017u);
  EXPECT_EQ(get32(a->data, 16), 2u);
  EXPECT_EQ(hex_at(a->data, 80), "1111111111111111");
}

TEST_F(Fcph, LocalNodesAreTheAdapters) {
  Client c;
  auto count = fcph(c, 0x15000046, "");
  ASSERT_TRUE(count);
  EXPECT_EQ(count->number, 0x15000047u);
  EXPECT_EQ(get32(count->data, 84), 2u);
  const std::string nodes[] = {kNode0, kNode1};
  for (std::uint32_t i = 0; i < 2; ++i) {
    auto a = fcph(c, 0x15000048, "", [&](std::uint8_t* d) { put32(d, 80, i); });
    ASSERT_TRUE(a);
    EXPECT_EQ(a->number, 0x15000049u);
    EXPECT_EQ(hex_at(a->data, 88), nodes[i]);
  }
  auto beyond = fcph(c, 0x15000048, "", [](std::uint8_t* d) { put32(d, 80, 2); });
  ASSERT_TRUE(beyond);
  EXPECT_EQ(get32(beyond->data, 16), 2u);
  EXPECT_EQ(hex_at(beyond->data, 88), "0000000000000000");
}

TEST_F(Fcph, NodePortsAndRemoteNodes) {
  Client c;
  auto ports = fcph(c, 0x15000052, kNode0);
  ASSERT_TRUE(ports);
  EXPECT_EQ(ports->number, 0x15000053u);
  EXPECT_EQ(get32(ports->data, 92), 1u);

  auto port = fcph(c, 0x15000070, "", [](std::uint8_t* d) {
    put32(d, 80, 0);
    put_wwn(d, 84, kNode1);
  });
  ASSERT_TRUE(port);
  EXPECT_EQ(port->number, 0x15000071u);
  EXPECT_EQ(hex_at(port->data, 88), kPort1);

  auto remotes = fcph(c, 0x15000054, kNode1);
  ASSERT_TRUE(remotes);
  EXPECT_EQ(remotes->number, 0x15000055u);
  EXPECT_EQ(get32(remotes->data, 92), 2u);

  const std::string seen_by_node1[] = {kArray, kJbod};
  for (std::uint32_t i = 0; i < 2; ++i) {
    auto rn = fcph(c, 0x15000072, "", [&](std::uint8_t* d) {
      put32(d, 80, i);
      put_wwn(d, 84, kNode1);
    });
    ASSERT_TRUE(rn);
    EXPECT_EQ(rn->number, 0x15000073u);
    EXPECT_EQ(hex_at(rn->data, 88), seen_by_node1[i]);
  }
}

TEST_F(Fcph, RemoteNodeAttributes) {
  Client c;
  auto pc = fcph(c, 0x15000074, kArray);
  ASSERT_TRUE(pc);
  EXPECT_EQ(pc->number, 0x15000075u);
  EXPECT_EQ(get32(pc->data, 92), 2u);
  auto type = fcph(c, 0x15000076, kTape);
  ASSERT_TRUE(type);
  EXPECT_EQ(type->number, 0x15000077u);
  EXPECT_EQ(get32(type->data, 92), 2u);
  auto cls = fcph(c, 0x15000078, kTape);
  ASSERT_TRUE(cls);
  EXPECT_EQ(cls->number, 0x15000079u);
  EXPECT_EQ(get32(cls->data, 92), 2u);

  auto port = fcph(c, 0x15000092, kArray, [](std::uint8_t* d) { put32(d, 88, 1); });
  ASSERT_TRUE(port);
  EXPECT_EQ(port->number, 0x15000093u);
  EXPECT_EQ(hex_at(port->data, 92), kArrayPortB);

  auto address = fcph(c, 0x15000094, kArray, [](std::uint8_t* d) { put_wwn(d, 88, kArrayPortB); });
  ASSERT_TRUE(address);
  EXPECT_EQ(address->number, 0x15000095u);
  EXPECT_EQ(get32(address->data, 92), 0x0203E8u);

  auto no_such_port =
      fcph(c, 0x15000094, kTape, [](std::uint8_t* d) { put_wwn(d, 88, kArrayPortB); });
  ASSERT_TRUE(no_such_port);
  EXPECT_EQ(get32(no_such_port->data, 16), 2u);
}

TEST_F(Fcph, NodeCountersAreTheTotalsOfItsPorts) {
  // With the link down the counters stand still, so both reads must agree.
  ASSERT_EQ(sim_set_link(0, 0, 0), 0);
  Client c;
  const std::pair<std::uint32_t, std::uint32_t> pairs[] = {
      {0x15000056, 0x1500002E}, {0x15000058, 0x15000030}, {0x15000060, 0x15000032},
      {0x15000062, 0x15000034}, {0x15000064, 0x15000036}, {0x15000066, 0x15000038}};
  for (auto [node_request, port_request] : pairs) {
    auto node = fcph(c, node_request, kNode0);
    auto port = fcph(c, port_request, kPort0);
    ASSERT_TRUE(node && port);
    EXPECT_EQ(node->number, node_request + 1);
    EXPECT_EQ(get32(node->data, 92), get32(port->data, 92)) << std::hex << node_request;
  }
  for (std::uint32_t discard : {0x15000068u, 0x15000090u}) {
    auto a = fcph(c, discard, kNode0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->number, discard + 1);
    EXPECT_EQ(get32(a->data, 16), 0u);
  }
}

TEST_F(Fcph, CountersGrowWhileTheLinkIsUpAndStopWhileDown) {
  Client c;
  auto before = fcph(c, 0x15000032, kPort0);  // TX bytes, 512000 per second
  sim_advance_clock(1000);
  auto after = fcph(c, 0x15000032, kPort0);
  ASSERT_TRUE(before && after);
  EXPECT_GE(get32(after->data, 92) - get32(before->data, 92), 512000u);

  ASSERT_EQ(sim_set_link(0, 0, 0), 0);
  auto down1 = fcph(c, 0x15000032, kPort0);
  sim_advance_clock(5000);
  auto down2 = fcph(c, 0x15000032, kPort0);
  ASSERT_TRUE(down1 && down2);
  EXPECT_EQ(get32(down1->data, 92), get32(down2->data, 92));

  ASSERT_EQ(sim_set_link(0, 0, 1), 0);
  sim_advance_clock(1000);
  auto up = fcph(c, 0x15000032, kPort0);
  ASSERT_TRUE(up);
  EXPECT_GE(get32(up->data, 92) - get32(down2->data, 92), 512000u);
  EXPECT_LT(get32(up->data, 92) - get32(down2->data, 92), 2u * 512000u);
}

TEST_F(Fcph, ShortAreasAreNeverWrittenPastTheirEnd) {
  // The simulator writes inside the area it handed out, whatever its size
  // (AddressSanitizer would report a write past the end).
  Client c;
  auto vendor = c.request("fcph", 0x1500001C, 90, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); });
  ASSERT_TRUE(vendor);
  EXPECT_EQ(vendor->number, 0x1500001Du);
  EXPECT_EQ(text_at(vendor->data, 84), "Quell");
  auto tiny = c.request("fcph", 0x15000048, 8);
  ASSERT_TRUE(tiny);
  EXPECT_EQ(tiny->number, 0x15000049u);
}

}  // namespace
}  // namespace simtest
