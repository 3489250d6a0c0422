// Binding the library, opening and closing the channel, driver states, and
// faults inside the library.
#include <csignal>

#include "channel/discovery.h"
#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;

// Six attempts at the first open, each with the next handle (the tag over the
// process id); the counter is never reset, so each later open tries once.
// Once open, opening again returns at once.
TEST_F(ChannelTest, OpenRegistersOnceAndLogsTheStepsAfterSixThenOneAttemptPerOpen) {
  ChannelSettings s = settings();
  s.process_id = 1000;
  sim_fault_refuse_register(100);
  Channel& c = open(s);
  EXPECT_FALSE(c.channel_open());
  EXPECT_EQ(c.registration_attempts(), 6);
  EXPECT_EQ(occurrences(events_text(), "LXS ERROR: Registration failed - error(1)\n"), 6);
  c.qdn_open();
  EXPECT_EQ(c.registration_attempts(), 7);
  sim_fault_refuse_register(0);
  c.qdn_open();
  ASSERT_TRUE(c.channel_open());
  EXPECT_EQ(c.registration_attempts(), 8);
  EXPECT_EQ(c.reg_handle(), 0x544103EFu);
  std::string log = events_text();
  EXPECT_EQ(occurrences(log, "LXS ERROR: Registration failed - error(1)\n"), 7);
  expect_once(log, {"qdn_open() handle=0x544103E8 name=TAVRO\n",
                    "qdn_open() handle=0x544103EF name=TAVRO\n"});
  EXPECT_EQ(occurrences(log, "LXS DEBUG: qdn_open\n"), 3);
  expect_once(log, {"LXS NOTCE: Message Library loaded: /", "LXS NOTCE: Initialization completed\n",
                    "LXS NOTCE: Registration completed\n"});

  c.qdn_open();
  EXPECT_EQ(events_text(), log);
  EXPECT_EQ(c.registration_attempts(), 8);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "4");
}

TEST_F(ChannelTest, DriverStatesGateTheOpenAndCloseAndReopen) {
  debug_ = 0x80000;
  Channel& c = open();
  std::uint32_t first = c.reg_handle();
  c.qdn_state(kDriverStandby);
  c.qdn_close();
  EXPECT_FALSE(c.channel_open());
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: Driver not opened");
  std::string log = events_text();
  expect_once(log, {"qdn_close: calling q_deregister_msg_handler", "qdn_close: calling q_msg_done",
                    "qdn_close: done."});

  // Closing a closed channel only leaves its trace and record.
  c.qdn_close();
  c.qdn_state(kDriverStandby);
  c.qdn_state(4);
  EXPECT_EQ(c.driver_state(), kDriverStandby);
  c.qdn_open();
  EXPECT_FALSE(c.channel_open());
  std::string again = events_text();
  EXPECT_EQ(occurrences(again, "calling q_deregister_msg_handler"), 1);
  EXPECT_GT(occurrences(again, "qdn_close"), occurrences(log, "qdn_close"));
  expect_once(again,
              {"LXS NOTCE: Driver state changed to STANDBY.\n", "qdn_state already set to 1.",
               "LXS ERROR: Internal Error - State - error(4)\n",
               "LXS ERROR: qdn_open() Driver state \"Not Ready\" - error(1)\n"});

  // A resume leaves the channel closed until the next open.
  c.qdn_state(kDriverReady);
  EXPECT_FALSE(c.channel_open());
  c.qdn_open();
  EXPECT_TRUE(c.channel_open());
  EXPECT_NE(c.reg_handle(), first);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "4");
  EXPECT_EQ(occurrences(events_text(), "Driver state changed to READY."), 1);
}

TEST_F(ChannelTest, FaultsInsideTheLibraryAreSurvivedAndLogged) {
  ASSERT_EQ(sim_fault_crash_signal("q_msg_init", SIGSEGV), 0);
  Channel& c = open(settings(200));
  EXPECT_FALSE(c.channel_open());
  EXPECT_EQ(occurrences(events_text(), "LXS ERROR: Initialization failed\n"), 1);
  c.qdn_open();
  ASSERT_TRUE(c.channel_open());
  std::uint32_t before = sim_requests_received();

  ASSERT_EQ(sim_fault_crash_signal("q_msg_alloc", SIGSEGV), 0);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: message allocation failed");
  EXPECT_EQ(sim_requests_received(), before);

  ASSERT_EQ(sim_fault_crash_signal("q_send_msg_by_name", SIGILL), 0);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: driver timeout");

  ASSERT_EQ(sim_fault_crash_signal("q_msg_free", SIGFPE), 0);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "4");
  EXPECT_EQ(sim_wait_idle(2000), 0);
  sim_fault_alloc_fail(1);  // a plain failure, no exception
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: message allocation failed");

  ASSERT_EQ(sim_fault_crash_signal("q_deregister_msg_handler", SIGBUS), 0);
  ASSERT_EQ(sim_fault_crash_signal("q_msg_done", SIGSEGV), 0);
  c.qdn_close();
  EXPECT_FALSE(c.channel_open());

  ASSERT_EQ(sim_fault_crash_signal("q_register_msg_handler", SIGSEGV), 0);
  c.qdn_open();
  EXPECT_TRUE(c.channel_open());
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "4");

  std::string log = events_text();
  EXPECT_EQ(occurrences(log, "Program Exception"), 7);
  for (const char* f : {"q_msg_init", "q_msg_alloc", "q_send_msg_by_name", "q_msg_free",
                        "q_deregister_msg_handler", "q_msg_done", "q_register_msg_handler"}) {
    EXPECT_EQ(occurrences(log, std::string("LXS ERROR: Program Exception: ") + f + "\n"), 1) << f;
  }
  std::string requests = tavro::testing::read_file(request_path_);
  expect_once(requests, {"TAVRO: Received Exception in q_msg_alloc(256,256,0x0).\n",
                         "TAVRO: Received Exception in q_send_msg_by_name(\"fcph\",0x",
                         "TAVRO: Received Exception in q_msg_free(0x",
                         "TAVRO: Received Exception in q_register_msg_handler().\n"});
}

// Node, remote node and index fields reach the driver in the FCGET replies of
// tests/e2e/objects.
TEST(IndexFields, FillTheLxsObjectMessage) {
  std::uint8_t a[lxs::kSize] = {};
  ASSERT_EQ(fill_index_fields("/pvd/pci2/dev5/fcp0.3", a, "AP"), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(a + lxs::kAdapterName), "/pvd/pci2/dev5/fcp0");
  EXPECT_EQ(a[lxs::kPortWwn], 0x30);  // "3" then missing digits read as 0

  // An adapter name longer than its field is cut, and nothing else moves.
  std::uint8_t b[lxs::kSize] = {};
  std::string long_name(200, 'n');
  ASSERT_EQ(fill_index_fields(long_name.c_str(), b, "A"), 0);
  EXPECT_EQ(std::strlen(reinterpret_cast<char*>(b + lxs::kAdapterName)), lxs::kAdapterNameSize - 1);
  EXPECT_EQ(b[lxs::kValue], 0);

  std::uint8_t c[lxs::kSize] = {};
  EXPECT_EQ(fill_index_fields("1.2", c, "IO"), -1);
  EXPECT_EQ(fill_index_fields("1.2", c, "S"), -1);
}

}  // namespace
}  // namespace channel_test
