// The read responses of the catalogue that the daemon's objects do not show
// with the simulator's default model, asked of the simulated driver through a
// real channel, arrive as the reply text the programs send. The others, the
// writes, the target-support requests and object 16 are read through the
// daemon (tests/e2e/objects); the adapter requests through discovery
// (DiscoveryTest below).
#include <chrono>
#include <csignal>
#include <regex>
#include <thread>
#include <vector>

#include "channel/discovery.h"
#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;

// A request's number by its name in the catalogue.
std::uint32_t number_of(const std::string& name) {
  for (const RequestRow* row = message_catalogue; row->name != nullptr; ++row) {
    if (name == row->name) return row->number;
  }
  ADD_FAILURE() << name << " is not in the catalogue";
  return 0;
}

TEST_F(ChannelTest, AttributesArriveAsTextFailedObjectsAsErrorText) {
  auto ask_rows = [&](const std::string& table) {
    for (const auto& row : tavro::testing::read_rows("unit/channel/catalogue.txt")) {
      if ((row.size() > 3 ? row.at(3) : "tavro") != table) continue;
      SCOPED_TRACE(row.at(0) + " " + row.at(1));
      int id = 0, type = 0, count = 0;
      std::function<void(std::uint8_t*)> fill = [](std::uint8_t*) {};
      if (std::sscanf(row.at(1).c_str(), "object %d %d %d", &id, &type, &count) == 3)
        fill = object(static_cast<std::uint32_t>(id), type, count);
      else if (!row.at(1).empty())
        fill = port(row.at(1).c_str());
      EXPECT_EQ(ask(number_of(row.at(0)), fill), row.at(2));
      EXPECT_EQ(last_, Transaction::kAnswered);
    }
  };
  open();
  ask_rows("tavro");
  EXPECT_EQ(occurrences(events_text(), "**** fc_address out of range: 0x01000000"), 1);
  EXPECT_EQ(sim_wait_idle(2000), 0);
  EXPECT_EQ(sim_messages_outstanding(), 0u) << "every delivered message is freed";

  // Failed objects answer with their error text.
  sim_fault_lxs_status(LXS_FCP, 5);
  EXPECT_EQ(ask(LXS_FCP, object(17, kValueSigned, 1)), "Error:  Number of LUNs: Fatal Error");
  sim_fault_lxs_status(LXS_FCP, 0);

  channel_.reset();
  ChannelSettings s = settings(300);
  s.responses = stdagent_responses;
  open(s);
  ask_rows("stdagent");
  // A response the agent has no row for delivers nothing: the request times out.
  // The delivery thread may still trace the last answer: let it finish first.
  ASSERT_EQ(sim_wait_idle(1000), 0);
  debug_ = 0x40000;
  EXPECT_EQ(ask(FCPH_GET_PORT_VENDOR, port(kPortA)), "Error: driver timeout");
  EXPECT_EQ(occurrences(events_text(), "unknown message 352321565"), 1);
}

// Adapter discovery over the simulated driver.

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

// The rendezvous and the response rows, driven directly: a request waits on
// this thread while a second thread plays the library's delivery thread.
using namespace std::chrono_literals;

class RendezvousTest : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    channel_ = std::make_unique<Channel>(diag_, events_, &requests_, settings(100));
  }

  // Waits for one request while deliver() runs on another thread.
  std::string wait_for(const std::function<void()>& deliver, const char* start = "") {
    char reply[256];
    std::snprintf(reply, sizeof reply, "%s", start);
    channel_->prepare_wait();
    channel_->set_reply_text(reply, sizeof reply);
    std::thread delivery(deliver);
    last_ = channel_->wait_on_send(reply, sizeof reply);
    delivery.join();
    return reply;
  }

  // One response row applied to a data area of the row's size.
  std::string row_reply(std::uint32_t number, const std::function<void(std::uint8_t*)>& fill,
                        const ResponseRow* table = tavro_responses, const char* start = "") {
    const ResponseRow* row = find_response(table, number);
    EXPECT_NE(row, nullptr) << std::hex << number;
    if (row == nullptr) return {};
    std::vector<std::uint8_t> data(row->size != 0 ? row->size : 256);
    fill(data.data());
    return wait_for([&] { row->deliver(*channel_, *row, data.data()); }, start);
  }

  static auto at(std::size_t offset, std::uint32_t value) {
    return [=](std::uint8_t* d) { write_u32(d, offset, value); };
  }
};

// responses.txt: the rows' replies, and the failed object responses and the
// reply text an object response leaves.
TEST_F(RendezvousTest, ResponseRowsFormTheirReplies) {
  for (const auto& row : tavro::testing::read_rows("unit/channel/responses.txt")) {
    if (row.at(0) == "object") {
      auto fill = object(std::stoul(row.at(1), nullptr, 0), std::stoi(row.at(2)),
                         std::stoi(row.at(3)), std::stoul(row.at(4)));
      EXPECT_EQ(row_reply(LXS_FCP_RESP, fill, tavro_responses, row.at(5).c_str()), row.at(6));
      continue;
    }
    const ResponseRow* table = row.at(0) == "tavro" ? tavro_responses : stdagent_responses;
    const ResponseRow* r = table;
    while (r->deliver != nullptr && (r->name == nullptr || row.at(1) != r->name)) ++r;
    ASSERT_NE(r->deliver, nullptr) << row.at(1);
    EXPECT_EQ(
        row_reply(r->number, at(std::stoul(row.at(2)), std::stoul(row.at(3), nullptr, 0)), table),
        row.at(4))
        << row.at(1) << " " << row.at(3);
  }
  // Only the remote node's address is out of range.
  EXPECT_EQ(occurrences(events_text(), "out of range"), 1);
  EXPECT_EQ(occurrences(events_text(), "**** remote_node_fcaddr out of range: 0x12345678"), 1);
  EXPECT_EQ(find_response(stdagent_responses, LXS_FCP_RESP), nullptr);
}

// A driver that leaves texts unterminated or announces more values than its
// data area holds must not make the programs read past the area.
TEST_F(RendezvousTest, ValuesAreReadWithinTheDataArea) {
  std::string text = row_reply(FCPH_GET_PORT_VENDOR + 1,
                               [](std::uint8_t* d) { std::memset(d + 84, 'v', fcph::kSize - 84); });
  EXPECT_EQ(text, std::string(fcph::kSize - 84, 'v'));
  std::string many = row_reply(LXS_FCP_RESP, object(5, kValueUnsigned, 100000));
  EXPECT_EQ(occurrences(many, ":") + 1, static_cast<int>((lxs::kSize - lxs::kValue) / 4));
}

TEST_F(RendezvousTest, AResponseHeldBackDuringTheSendCompletesTheWait) {
  channel_ = std::make_unique<Channel>(diag_, events_, &requests_, settings(5000));
  char reply[64] = "";
  channel_->prepare_wait();  // the mutex is held from here through the send
  channel_->set_reply_text(reply, sizeof reply);
  std::uint32_t value = 42;
  std::thread delivery([&] { channel_->recv_drv_msg(&value, 1, kValueUnsigned, false, 4); });
  std::this_thread::sleep_for(20ms);  // the delivery now waits for the mutex
  EXPECT_STREQ(reply, "");
  EXPECT_EQ(channel_->wait_on_send(reply, sizeof reply), Transaction::kAnswered);
  delivery.join();
  EXPECT_STREQ(reply, "42");
}

// A time-out does not disturb the next request, whose time is reported as
// the minimum, maximum and average.
TEST_F(RendezvousTest, TimeOutThenTheFirstTimedRequestReportsItsOwnTimeAsMinMaxAndAverage) {
  EXPECT_EQ(wait_for([] {}), "Error: driver timeout");
  EXPECT_EQ(last_, Transaction::kTimedOut);
  EXPECT_EQ(occurrences(events_text(), "LXS ERROR: Message timeout\n"), 1);
  debug_ = 0x20000000;
  std::uint32_t value = 99;
  EXPECT_EQ(wait_for([&] {
              std::this_thread::sleep_for(15ms);
              channel_->recv_drv_msg(&value, 1, kValueUnsigned, false, 4);
            }),
            "99");
  EXPECT_EQ(last_, Transaction::kAnswered);
  RendezvousStats s = channel_->stats();
  EXPECT_EQ(s.ok_total, 1u);
  EXPECT_EQ(s.timeout_total, 1u);
  EXPECT_EQ(s.timeout_run, 0u);
  std::smatch m;
  std::string log = events_text();
  ASSERT_TRUE(std::regex_search(
      log, m, std::regex(R"(Request took (\d+)\.(\d{3})s min/max/avg: (\d+)/(\d+)/(\d+)ms)")));
  int elapsed = std::stoi(m[1]) * 1000 + std::stoi(m[2]);
  EXPECT_GE(elapsed, 15);
  EXPECT_EQ(std::stoi(m[3]), elapsed);
  EXPECT_EQ(std::stoi(m[4]), elapsed);
  EXPECT_EQ(std::stoi(m[5]), elapsed);
}

// Matching responses to the waiting request, driver events and driver errors,
// over the simulated driver.

// The answers come inside the send, on this thread, so that each is matched
// while its request waits however loaded the machine is.
TEST_F(ChannelTest, MismatchedAndMalformedResponsesAreDroppedAndFreed) {
  debug_ = 0x10000000;
  open(settings(150));
  sim_fault_caller_thread(FCPH_GET_PORT_SPEED, 1);
  sim_fault_caller_thread(LXS_FCP, 1);
  std::uint32_t invalid = sim_invalid_calls();
  channel_->msg_handler(1, nullptr);
  unsigned char message[qfc::kHeaderSize] = {};
  write_u32(message, qfc::kNumberOffset, FCPH_GET_PORT_SPEED + 1);
  channel_->msg_handler(1, message);
  // The message without data went back to the library (which did not know it).
  EXPECT_EQ(sim_invalid_calls(), invalid + 1);
  sim_fault_wrong_number_to(FCPH_GET_PORT_SPEED, 0x15000019);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: driver timeout");
  sim_fault_wrong_object(LXS_FCP, 1);
  EXPECT_EQ(ask(LXS_FCP, object(5, kValueUnsigned, 1)), "Error: driver timeout");
  sim_fault_wrong_object(LXS_FCP, 0);
  EXPECT_EQ(ask(LXS_FCP, object(5, kValueUnsigned, 1)), "11");

  std::string log = events_text();
  expect_once(log, {"\tResponse mis-match: got 0x15000019 / exepected 0x15000017",
                    "\tFCP Response doesn't match: got 6 / exepect 5"});
  EXPECT_EQ(occurrences(log, "unsolicited message"), 2);
  expect_once(log, {"LXS WARNG: tavro_msg_handler: msg = 0\n",
                    "LXS WARNG: tavro_msg_handler: msg->data = 0\n"});
  EXPECT_EQ(sim_wait_idle(2000), 0);
  EXPECT_EQ(sim_messages_outstanding(), 0u);
}

// A response that comes after its request timed out never reaches a reply,
// neither between requests nor while a later request of the same kind waits.
TEST_F(ChannelTest, LateResponsesChangeNothing) {
  debug_ = 0x40000 | 0x10000000;
  open(settings(1500));
  auto name_of = [](std::uint32_t id, std::uint32_t index) {
    return [=](std::uint8_t* d) {
      write_u32(d, sif::kRequestId, id);
      write_u32(d, sif::kAdapterIndex, index);
    };
  };
  // Half a second apart each way, however loaded the machine: the late answer
  // (at 2 s) arrives while the next request waits for its own (at 2.5 s, due by 3 s).
  sim_fault_delay(LXS_GET_ADAPTER_NAME, 2000);
  EXPECT_EQ(ask(LXS_GET_ADAPTER_NAME, name_of(1, 0), "/pvd/fcp0.sif"), "Error: driver timeout");
  sim_fault_delay(LXS_GET_ADAPTER_NAME, 1000);
  EXPECT_EQ(ask(LXS_GET_ADAPTER_NAME, name_of(2, 1), "/pvd/fcp1.sif"), "/pvd/pci3/fcp1");
  EXPECT_EQ(last_, Transaction::kAnswered);
  EXPECT_EQ(occurrences(events_text(), "unsolicited message"), 1);

  // Between requests the late answer finds nobody waiting.
  sim_fault_delay(FCPH_GET_PORT_SPEED, 2000);
  char reply[64] = "";
  last_ = channel_->transact({kFcphDestination, FCPH_GET_PORT_SPEED, fcph::kSize}, reply,
                             sizeof reply, [](std::uint8_t* d) {
                               write_u32(d, fcph::kNumber, FCPH_GET_PORT_SPEED);
                               hex_to_wwn(kPortA, d + 80);
                               return true;
                             });
  EXPECT_STREQ(reply, "Error: driver timeout");
  EXPECT_EQ(sim_wait_idle(3000), 0);
  EXPECT_STREQ(reply, "Error: driver timeout");
  EXPECT_EQ(occurrences(events_text(), "recv_drv_msg: wait NOT in progress (0)!"), 1);
  EXPECT_EQ(sim_messages_outstanding(), 0u);
}

// The driver's error is logged once and every later time-out reports the
// latest one.
TEST_F(ChannelTest, DriverErrorThenTimeOut) {
  open(settings(150));
  sim_fault_no_answer(FCPH_GET_PORT_SPEED, 1);
  sim_fault_driver_error_on(FCPH_GET_PORT_SPEED, 7);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: timeout: driver error(7)");
  EXPECT_EQ(channel_->driver_error(), 7u);
  sim_fault_driver_error_on(FCPH_GET_PORT_SPEED, 9);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: timeout: driver error(9)");
  std::string log = events_text();
  expect_once(log,
              {"DRV ERROR: Driver - error(7)", "DRV ERROR: Driver",
               "LXS ERROR: Message timeout - error(7)", "LXS ERROR: Message timeout - error(9)"});
}

// Events (events.txt) go to the event log at their level, also while a request waits,
// which they do not end.
TEST_F(ChannelTest, DriverEventsGoToTheEventLogAtTheirLevel) {
  const auto events = tavro::testing::read_rows("unit/channel/events.txt");
  open();
  sim_fault_delay(FCPH_GET_PORT_SPEED, 100);
  std::thread sender([&] {
    std::this_thread::sleep_for(20ms);
    for (const auto& e : events) sim_send_event(std::stoul(e.at(0)), e.at(1).c_str());
  });
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "4");
  sender.join();
  EXPECT_EQ(sim_set_link(0, 0, 0), 0);
  EXPECT_EQ(sim_wait_idle(2000), 0);
  std::string log = events_text();
  for (const auto& e : events) EXPECT_EQ(occurrences(log, e.at(2) + "\n"), 1) << e.at(2);
  EXPECT_EQ(occurrences(log, "DRV WARNG: Link down on adapter /pvd/pci2/dev5/fcp0"), 1);
  // The link state read afterwards follows the model.
  EXPECT_EQ(ask(FCPH_GET_LINK_STATE, port(kPortA)), "2");
  EXPECT_EQ(sim_wait_idle(2000), 0);
  EXPECT_EQ(sim_messages_outstanding(), 0u);
}

// Binding the library, opening and closing the channel, driver states, and
// faults inside the library.

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
