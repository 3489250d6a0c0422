// Adapter discovery and routing by destination name.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Discovery = SimTest;

TEST_F(Discovery, AdapterCountAnswersOnTheDeliveryThread) {
  Client c;
  auto a = c.request("/pvd/fcp0.sif", 0x1E00000A, 1024, [](std::uint8_t* d) { put32(d, 0, 41); });
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x9E00000Au);
  EXPECT_EQ(get32(a->data, 0), 41u);  // request identifier filled in
  EXPECT_EQ(get32(a->data, 4), 2u);
  EXPECT_EQ(get32(a->data, 8), 0u);
  EXPECT_NE(c.last_thread, std::this_thread::get_id());
}

TEST_F(Discovery, AdapterNamesByIndexGiveBusAndSlot) {
  Client c;
  const char* expected[] = {"/pvd/pci2/dev5/fcp0", "/pvd/pci3/dev1/fcp1"};
  for (std::uint32_t i = 0; i < 2; ++i) {
    std::string destination = "/pvd/fcp0.sif";
    destination[8] = static_cast<char>('0' + i);
    auto a = c.request(destination, 0x1E00000B, 1024, [&](std::uint8_t* d) {
      put32(d, 0, 100 + i);
      put32(d, 4, i);
    });
    ASSERT_TRUE(a) << destination;
    EXPECT_EQ(a->number, 0x9E00000Bu);
    EXPECT_EQ(get32(a->data, 0), 100 + i);
    EXPECT_EQ(get32(a->data, 4), i);
    EXPECT_EQ(text_at(a->data, 8), expected[i]);
    EXPECT_EQ(get32(a->data, 72), 0u);
  }
}

TEST_F(Discovery, AdapterNameBeyondTheCountFails) {
  Client c;
  auto a = c.request("/pvd/fcp3.sif", 0x1E00000B, 1024, [](std::uint8_t* d) { put32(d, 4, 3); });
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x9E00000Bu);
  EXPECT_EQ(text_at(a->data, 8), "");
  EXPECT_EQ(get32(a->data, 72), 2u);
}

TEST_F(Discovery, AdapterInformationForEachCode) {
  Client c;
  for (std::uint32_t code : {1u, 2u, 3u, 9u}) {
    auto a = c.request("/pvd/pci3/dev1/fcp1", 0x14000014, 512,
                       [&](std::uint8_t* d) { put32(d, 0, code); });
    ASSERT_TRUE(a) << code;
    EXPECT_EQ(a->number, 0x94000014u);
    EXPECT_EQ(get32(a->data, 0), code);
    EXPECT_EQ(get32(a->data, 4), 1u);
    EXPECT_EQ(text_at(a->data, 8), "PCI");
    EXPECT_EQ(text_at(a->data, 72), "QS-2310 PCI Fibre Channel Adapter");
  }
}

TEST_F(Discovery, AdapterPortWwnAndDuplexGoToTheAdapterName) {
  Client c;
  auto wwn =
      c.request("/pvd/pci2/dev5/fcp0", 0x14000016, 256, [](std::uint8_t* d) { put32(d, 0, 5); });
  ASSERT_TRUE(wwn);
  EXPECT_EQ(wwn->number, 0x94000016u);
  EXPECT_EQ(get32(wwn->data, 0), 5u);
  EXPECT_EQ(hex_at(wwn->data, 4), kPort0);

  auto duplex = c.request("/pvd/pci3/dev1/fcp1", 0x14000015, 256);
  ASSERT_TRUE(duplex);
  EXPECT_EQ(duplex->number, 0x94000015u);
  EXPECT_EQ(duplex->data[4], 1);
}

TEST_F(Discovery, UnknownDestinationIsNotAnswered) {
  Client c;
  std::uint32_t dropped = sim_requests_dropped();
  EXPECT_FALSE(c.request("/pvd/pci9/dev9/fcp9", 0x14000016, 256, {}, 200ms));
  EXPECT_FALSE(c.request("/pvd/fcp8.sif", 0x1E00000A, 1024, {}, 200ms));
  EXPECT_EQ(sim_requests_dropped(), dropped + 2);
}

TEST_F(Discovery, EachServiceAnswersWithItsResponseRule) {
  Client c;
  // A request the service does not know is still answered, by the rule of
  // expect_response: FCPH + 1, any other with bit 31 set, data unchanged.
  auto fcph_unknown = fcph(c, 0x1500002A, kPort0);
  ASSERT_TRUE(fcph_unknown);
  EXPECT_EQ(fcph_unknown->number, 0x1500002Bu);
  EXPECT_EQ(get32(fcph_unknown->data, 16), 2u);
  // The rule goes by number: a port-speed request sent to "fcp" comes back
  // as 0x15000017, unanswered by the LXS service (no speed at 84).
  auto misrouted =
      c.request("fcp", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); });
  ASSERT_TRUE(misrouted);
  EXPECT_EQ(misrouted->number, 0x15000017u);
  EXPECT_EQ(hex_at(misrouted->data, 80), kPort0);
  auto sif_unknown =
      c.request("/pvd/fcp0.sif", 0x1E000012, 256, [](std::uint8_t* d) { put32(d, 4, 77); });
  ASSERT_TRUE(sif_unknown);
  EXPECT_EQ(sif_unknown->number, 0x9E000012u);
  EXPECT_EQ(get32(sif_unknown->data, 4), 77u);
}

TEST_F(Discovery, FcpManualIdReadAndWrite) {
  Client c;
  auto read = c.request("/pvd/fcp0.sif", 0x1E00000C, 256);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->number, 0x9E00000Cu);
  EXPECT_EQ(get32(read->data, 4), 0u);
  auto write = c.request("/pvd/fcp0.sif", 0x1E00000D, 256, [](std::uint8_t* d) { put32(d, 4, 1); });
  ASSERT_TRUE(write);
  EXPECT_EQ(write->number, 0x9E00000Du);
  read = c.request("/pvd/fcp0.sif", 0x1E00000C, 256);
  ASSERT_TRUE(read);
  EXPECT_EQ(get32(read->data, 4), 1u);
  // The same setting is LXS object 1 (Auto Assign SCSI ID).
  auto object = lxs(c, 1, "");
  ASSERT_TRUE(object);
  EXPECT_EQ(get32(object->data, 16), 0u);
  EXPECT_EQ(get32(object->data, 112), 1u);
}

}  // namespace
}  // namespace simtest
