#include <gtest/gtest.h>

#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

class SimLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_reset();
    ASSERT_NE(q_msg_init(), 0);
  }
  void TearDown() override {
    q_msg_done();
    EXPECT_EQ(sim_messages_outstanding(), 0u);
  }
};

TEST_F(SimLibrary, AnswersTheAdapterCount) {
  Client client;
  ASSERT_TRUE(client.registered());
  auto a =
      client.request("/pvd/fcp0.sif", 0x1E00000A, 1024, [](std::uint8_t* d) { put32(d, 0, 7); });
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x9E00000Au);
  EXPECT_EQ(get32(a->data, 0), 7u);  // the request identifier stays
  EXPECT_EQ(get32(a->data, 4), 2u);
  EXPECT_EQ(get32(a->data, 8), 0u);
  EXPECT_NE(client.last_thread, std::this_thread::get_id());
}

}  // namespace
}  // namespace simtest
