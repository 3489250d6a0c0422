// LXS objects 1 to 20 ("fcp", 0x0B00001E) and the target-support requests
// for remote nodes ("/pvd/fcp0.sif", 0x1E00000E to 0x1E000011).
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Lxs = SimTest;

std::optional<Answer> target_request(Client& c, std::uint32_t number, const std::string& node,
                                     const std::string& remote, std::uint32_t value = 0) {
  return c.request("/pvd/fcp0.sif", number, 256, [&](std::uint8_t* d) {
    put32(d, 0, 9);
    put_wwn(d, 4, node);
    put_wwn(d, 12, remote);
    put32(d, 20, value);
  });
}

TEST_F(Lxs, AnswerKeepsTheRequestFields) {
  Client c;
  auto a = lxs(c, 5, kNode0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x8B00001Eu);
  EXPECT_EQ(get32(a->data, 0), 5u);
  EXPECT_EQ(get32(a->data, 4), 2u);
  EXPECT_EQ(get32(a->data, 8), 1u);
  EXPECT_EQ(get32(a->data, 12), request_id_);
  EXPECT_EQ(get32(a->data, 16), 0u);
  EXPECT_EQ(hex_at(a->data, 32), kNode0);
}

TEST_F(Lxs, NodeObjects) {
  Client c;
  auto name = lxs(c, 2, kNode0);
  ASSERT_TRUE(name);
  EXPECT_EQ(text_at(name->data, 112), "QS-2310 host port 0");
  auto status = lxs(c, 3, kNode1);
  ASSERT_TRUE(status);
  EXPECT_EQ(text_at(status->data, 112), "Online");
  auto classes = lxs(c, 4, kNode0);
  ASSERT_TRUE(classes);
  EXPECT_EQ(text_at(classes->data, 112), "3");
  const std::uint32_t initial[] = {1000, 1200, 2048000, 2457600, 1, 2, 0, 0};
  for (std::uint32_t object = 5; object <= 12; ++object) {
    auto a = lxs(c, object, kNode0);
    ASSERT_TRUE(a);
    EXPECT_EQ(get32(a->data, 16), 0u) << object;
    EXPECT_GE(get32(a->data, 112), initial[object - 5]) << object;
  }
}

TEST_F(Lxs, NodeCounterObjectsMatchTheFcphNodeCounters) {
  ASSERT_EQ(sim_set_link(1, 0, 0), 0);  // counters stand still
  Client c;
  const std::uint32_t fcph_requests[] = {0x15000056, 0x15000058, 0x15000060, 0x15000062,
                                         0x15000064, 0x15000066, 0x15000068, 0x15000090};
  for (std::uint32_t object = 5; object <= 12; ++object) {
    auto a = lxs(c, object, kNode1);
    auto b = fcph(c, fcph_requests[object - 5], kNode1);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(get32(a->data, 112), get32(b->data, 92)) << object;
  }
}

TEST_F(Lxs, RemoteNodeObjects) {
  Client c;
  auto service_class = lxs(c, 13, kNode0, kTape);
  ASSERT_TRUE(service_class);
  EXPECT_EQ(get32(service_class->data, 112), 2u);
  auto target0 = lxs(c, 14, kNode0, kArray);
  auto target1 = lxs(c, 14, kNode1, kArray);  // the same array on the second path
  ASSERT_TRUE(target0 && target1);
  EXPECT_EQ(get32(target0->data, 112), 0u);
  EXPECT_EQ(get32(target1->data, 112), 2u);
  auto blocked = lxs(c, 15, kNode1, kJbod);
  ASSERT_TRUE(blocked);
  EXPECT_EQ(get32(blocked->data, 112), 1u);
  auto luns0 = lxs(c, 17, kNode0, kArray);
  auto luns1 = lxs(c, 17, kNode1, kArray);
  ASSERT_TRUE(luns0 && luns1);
  EXPECT_EQ(get32(luns0->data, 112), 3u);
  EXPECT_EQ(get32(luns1->data, 112), 1u);
  auto scsi_type = lxs(c, 18, kNode0, kTape);
  ASSERT_TRUE(scsi_type);
  EXPECT_EQ(get32(scsi_type->data, 112), 1u);
}

TEST_F(Lxs, LunObjects) {
  Client c;
  auto description = lxs(c, 16, kNode0, kArray, 1);
  ASSERT_TRUE(description);
  EXPECT_EQ(get32(description->data, 16), 0u);
  EXPECT_EQ(std::string(description->data.begin() + 112, description->data.begin() + 120),
            "QUELLST ");
  EXPECT_EQ(text_at(description->data, 120), "QUELLST ARRAY-9000 R1.2");
  auto number = lxs(c, 19, kNode0, kArray, 2);
  ASSERT_TRUE(number);
  EXPECT_EQ(get32(number->data, 112), 2u);
  auto address = lxs(c, 20, kNode0, kArray, 1);
  ASSERT_TRUE(address);
  EXPECT_EQ(hex_at(address->data, 112), "0001000000000000");
  auto beyond = lxs(c, 19, kNode0, kArray, 3);
  ASSERT_TRUE(beyond);
  EXPECT_EQ(get32(beyond->data, 16), 2u);
}

TEST_F(Lxs, FailuresCarryStatus2) {
  Client c;
  for (std::uint32_t object : {0u, 21u, 0x7FFFFFFFu}) {
    auto a = lxs(c, object, kNode0, kArray);
    ASSERT_TRUE(a);
    EXPECT_EQ(get32(a->data, 16), 2u) << object;
  }
  auto unknown_node = lxs(c, 5, "1111111111111111");
  ASSERT_TRUE(unknown_node);
  EXPECT_EQ(get32(unknown_node->data, 16), 2u);
  auto not_seen_there = lxs(c, 14, kNode0, kJbod);  // the JBOD is seen by adapter 1 only
  ASSERT_TRUE(not_seen_there);
  EXPECT_EQ(get32(not_seen_there->data, 16), 2u);
  auto read_only = lxs(c, 0x80000011u, kNode0, kArray);
  ASSERT_TRUE(read_only);
  EXPECT_EQ(get32(read_only->data, 0), 0x80000011u);
  EXPECT_EQ(get32(read_only->data, 16), 2u);
}

TEST_F(Lxs, WritesChangeTheModel) {
  Client c;
  auto w4 =
      lxs(c, 0x80000004u, kNode0, "", 0, [](std::uint8_t* d) { std::memcpy(d + 112, "2,3", 4); });
  ASSERT_TRUE(w4);
  EXPECT_EQ(w4->number, 0x8B00001Eu);
  EXPECT_EQ(get32(w4->data, 0), 0x80000004u);
  EXPECT_EQ(get32(w4->data, 16), 0u);
  auto r4 = lxs(c, 4, kNode0);
  ASSERT_TRUE(r4);
  EXPECT_EQ(text_at(r4->data, 112), "2,3");

  ASSERT_TRUE(lxs(c, 0x8000000Du, kNode0, kArray, 0, [](std::uint8_t* d) { put32(d, 112, 2); }));
  auto r13 = lxs(c, 13, kNode0, kArray);
  ASSERT_TRUE(r13);
  EXPECT_EQ(get32(r13->data, 112), 2u);

  // Target ID written as an LXS object reads back through the target service.
  ASSERT_TRUE(lxs(c, 0x8000000Eu, kNode0, kArray, 0, [](std::uint8_t* d) { put32(d, 112, 9); }));
  auto t = target_request(c, 0x1E00000E, kNode0, kArray);
  ASSERT_TRUE(t);
  EXPECT_EQ(get32(t->data, 20), 9u);
}

TEST_F(Lxs, TargetIdPerPath) {
  Client c;
  auto set = target_request(c, 0x1E00000F, kNode1, kArray, 5);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->number, 0x9E00000Fu);
  auto path1 = target_request(c, 0x1E00000E, kNode1, kArray);
  auto path0 = target_request(c, 0x1E00000E, kNode0, kArray);
  ASSERT_TRUE(path1 && path0);
  EXPECT_EQ(path1->number, 0x9E00000Eu);
  EXPECT_EQ(get32(path1->data, 0), 9u);
  EXPECT_EQ(get32(path1->data, 20), 5u);
  EXPECT_EQ(get32(path0->data, 20), 0u);
  auto via_object = lxs(c, 14, kNode1, kArray);
  ASSERT_TRUE(via_object);
  EXPECT_EQ(get32(via_object->data, 112), 5u);
}

TEST_F(Lxs, BlockedStateAndItsEvent) {
  Client c;
  auto read = target_request(c, 0x1E000010, kNode1, kJbod);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->number, 0x9E000010u);
  EXPECT_EQ(get32(read->data, 20), 1u);
  auto set = target_request(c, 0x1E000011, kNode1, kJbod, 0);  // the programs send 2 as 0
  ASSERT_TRUE(set);
  EXPECT_EQ(set->number, 0x9E000011u);
  read = target_request(c, 0x1E000010, kNode1, kJbod);
  ASSERT_TRUE(read);
  EXPECT_EQ(get32(read->data, 20), 0u);
  auto object = lxs(c, 15, kNode1, kJbod);
  ASSERT_TRUE(object);
  EXPECT_EQ(get32(object->data, 112), 0u);
  c.drain(100ms);
  ASSERT_EQ(c.events.size(), 1u);
  EXPECT_EQ(c.events[0].severity, 411u);
  EXPECT_NE(c.events[0].text.find(kJbod + " unblocked"), std::string::npos) << c.events[0].text;
}

TEST_F(Lxs, UnknownPairReadsAllOnes) {
  Client c;
  auto t = target_request(c, 0x1E00000E, kNode0, kJbod);
  auto b = target_request(c, 0x1E000010, "1111111111111111", kArray);
  ASSERT_TRUE(t && b);
  EXPECT_EQ(get32(t->data, 20), 0xFFFFFFFFu);
  EXPECT_EQ(get32(b->data, 20), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace simtest
