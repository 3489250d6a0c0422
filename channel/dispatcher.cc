// The response dispatcher: matches each delivered message against the
// request that waits, hands it to its row of the response table, logs driver
// events and records driver errors.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diag.h"
#include "base/text.h"
#include "channel/channel.h"
#include "eventlog/event_log.h"
#include "eventlog/request_log.h"
#include "objects/value_format.h"
#include "platform/debug_output.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTraceMessages = 0x10000000;
constexpr std::uint32_t kTraceResponses = 0x40000;
constexpr std::uint32_t kTraceIndex = 0x10000;

// Where a response echoes the identifier its request was stamped with, or
// -1 for the families whose layout carries none.
long request_id_offset(std::uint32_t response) {
  if (response == LXS_FCP_RESP) return static_cast<long>(lxs::kRequestId);
  if (response >= (LXS_GET_ADAPTER_COUNT | kResponseBit) &&
      response <= (LXS_SET_REMNODE_BLOCKED | kResponseBit)) {
    return static_cast<long>(sif::kRequestId);
  }
  if (response == (HPD_LTX_DUPLEX_STATUS | kResponseBit) ||
      response == (HPD_LTX_ADAPTER_PORTWWN | kResponseBit)) {
    return static_cast<long>(hpd::kRequestId);
  }
  return -1;
}

// Areas of timed-out requests remembered for their late answers.
constexpr std::size_t kExpiredKept = 16;

bool is_fcph_response(std::uint32_t number) {
  return number >= 0x15000000u && number <= 0x15FFFFFFu;
}

// The arguments of a port or node request that its answer leaves in place:
// from offset 80 up to where the answer's value starts (all 20 argument
// bytes for a confirmation, which carries no value).
std::size_t fcph_key_end(const ResponseRow* table, std::uint32_t number) {
  constexpr std::size_t kArgsEnd = fcph::kArgs + 20;
  const ResponseRow* row = find_response(table, number);
  if (row == nullptr || row->offset <= fcph::kArgs) return kArgsEnd;
  return row->offset < kArgsEnd ? row->offset : kArgsEnd;
}

int event_level(std::uint32_t severity) {
  switch (severity) {
    case 411:
      return kLevelNotice;
    case 611:
      return kLevelWarning;
    case 711:
      return kLevelError;
    case 811:
    case 911:
      return kLevelAlarm;
    default:
      return 0;
  }
}

// Event records carry no line end of their own.
void write_record(EventLog& events, int source, int level, const char* line) {
  char text[kRecordMax + 1];
  std::snprintf(text, sizeof text, "%s", line);
  std::size_t length = std::strlen(text);
  if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
  events.write(source, level, text);
}

}  // namespace

void Channel::expect_response(std::uint32_t number, const void* data) {
  Expectation e;
  e.number = response_number(number);
  e.area = data;
  if (data != nullptr) {
    if (e.number == LXS_FCP_RESP) e.object = read_u32(data, lxs::kObjectId);
    e.id_at = request_id_offset(e.number);
    if (e.id_at >= 0) e.request_id = read_u32(data, static_cast<std::size_t>(e.id_at));
    if (is_fcph_response(e.number)) std::memcpy(e.head, data, sizeof e.head);
  }
  std::lock_guard<std::mutex> hold(expect_mutex_);
  // An area handed out again was released by the library: no answer can
  // still come back in it.
  std::erase(expired_, data);
  expected_ = e;
  expecting_ = true;
}

void Channel::clear_expected() {
  std::lock_guard<std::mutex> hold(expect_mutex_);
  expecting_ = false;
}

// At a time-out: the request's answer may still come, late, in its area.
void Channel::expire_expected() {
  std::lock_guard<std::mutex> hold(expect_mutex_);
  if (!expecting_) return;
  expecting_ = false;
  if (expected_.area == nullptr) return;
  if (expired_.size() >= kExpiredKept) expired_.pop_front();
  expired_.push_back(expected_.area);
}

// An answer in the area of a request that timed out; forgets the area.
bool Channel::late_answer(const void* data) {
  std::lock_guard<std::mutex> hold(expect_mutex_);
  auto at = std::find(expired_.begin(), expired_.end(), data);
  if (at == expired_.end()) return false;
  expired_.erase(at);
  return true;
}

bool Channel::answers(const Expectation& e, std::uint32_t number, const std::uint8_t* data,
                      bool trace) const {
  if (number != e.number) {
    if (trace) diag_.print("\tResponse mis-match: got 0x%X / exepected 0x%X\n", number, e.number);
    return false;
  }
  if (number == LXS_FCP_RESP && read_u32(data, lxs::kObjectId) != e.object) {
    if (trace) {
      diag_.print("\tFCP Response doesn't match: got %d / exepect %d\n",
                  static_cast<int>(read_u32(data, lxs::kObjectId)), static_cast<int>(e.object));
    }
    return false;
  }
  if (e.id_at >= 0) {
    std::uint32_t id = read_u32(data, static_cast<std::size_t>(e.id_at));
    if (id != e.request_id) {
      if (trace)
        diag_.print("\tResponse request id mis-match: got %u / expected %u\n", id, e.request_id);
      return false;
    }
  }
  if (is_fcph_response(number) && data != e.area) {
    std::size_t end = fcph_key_end(settings_.responses, number);
    if (std::memcmp(data + fcph::kNumber, e.head + fcph::kNumber, 4) != 0 ||
        std::memcmp(data + fcph::kArgs, e.head + fcph::kArgs, end - fcph::kArgs) != 0) {
      if (trace) diag_.print("\tResponse arguments mis-match: 0x%X\n", number);
      return false;
    }
  }
  return true;
}

bool Channel::match_response(std::uint32_t number, const void* data) {
  const bool trace = diag_.on(kTraceMessages);
  if (late_answer(data)) {
    note_no_waiter();
    return false;
  }
  std::lock_guard<std::mutex> hold(expect_mutex_);
  if (!expecting_) {
    if (trace) diag_.print("\tDon't have an expected response, got 0x%X!\n", number);
    return false;
  }
  if (answers_in_place_ && data != expected_.area && number == expected_.number) {
    if (trace) diag_.print("\tResponse in another area: 0x%X\n", number);
    return false;
  }
  if (!answers(expected_, number, static_cast<const std::uint8_t*>(data), trace)) return false;
  if (data == expected_.area) answers_in_place_ = true;
  return true;
}

namespace {

// A failed answer becomes the waiting request's error reply at once; its
// value fields are not read.
bool deliver_failure(Channel& c, std::uint32_t number, const std::uint8_t* data) {
  const StatusWord* word = find_status_word(number);
  const RequestRow* request =
      find_request((number & kResponseBit) != 0 ? number & ~kResponseBit : number - 1);
  if (word == nullptr || request == nullptr || word->offset + 4u > request->size) return false;
  std::uint32_t status = read_u32(data, word->offset);
  if (c.diag().on(kTraceResponses)) c.diag().print("status = %X\n", status);
  if (status == 0) return false;
  char text[128];
  status_error_text(number, status, text, sizeof text);
  c.recv_drv_msg(text, 0, kValueText, false, std::strlen(text) + 1);
  return true;
}

}  // namespace

void Channel::msg_handler(int kind, void* message) {
  const bool trace = diag_.on(kTraceMessages);
  if (kind == qfc::kDriverErrorKind) {
    std::uint32_t value = qfc::driver_error_value(message);
    if (trace) {
      char line[96];
      std::snprintf(line, sizeof line, "Got driver error result == 0x%0*" PRIXPTR "\n",
                    static_cast<int>(2 * sizeof(void*)), static_cast<std::uintptr_t>(value));
      diag_.print("%s", line);
      if (requests_ != nullptr) requests_->write_line(line);
    }
    if (driver_error_ == 0)
      events_.write(kSourceDrv, kLevelError, "Driver", static_cast<int>(value));
    driver_error_ = value;
    return;
  }
  if (message == nullptr) {
    if (trace) diag_.print("tavro_msg_handler: msg = 0\n");
    event(kLevelWarning, "tavro_msg_handler: msg = 0");
    return;
  }
  auto* data = static_cast<const std::uint8_t*>(qfc::message_data(message));
  if (data == nullptr) {
    if (trace) diag_.print("tavro_msg_handler: msg->data = 0\n");
    event(kLevelWarning, "tavro_msg_handler: msg->data = 0");
    safe_msg_free(message);
    return;
  }
  std::uint32_t number = qfc::message_number(message);
  if (trace) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "TAVRO: msg_handler called!    msg_num = 0x%X    data = 0x%0*" PRIXPTR "\n",
                  number, static_cast<int>(2 * sizeof(void*)),
                  reinterpret_cast<std::uintptr_t>(data));
    platform::debug_output(line);
    write_record(events_, kSourceLxs, kLevelDebug, line);
  }
  if (!match_response(number, data)) {
    if (trace) diag_.print("unsolicited message %d\n", static_cast<int>(number));
    if (number == kDriverEvent) driver_event(data);
    safe_msg_free(message);
    return;
  }
  clear_expected();
  if (deliver_failure(*this, number, data)) {
    safe_msg_free(message);
    return;
  }
  if (const ResponseRow* row = find_response(settings_.responses, number)) {
    if (row->name != nullptr && diag_.on(kTraceResponses))
      diag_.print("%s msg called\n", row->name);
    row->deliver(*this, *row, data);
  } else if (diag_.on(kTraceMessages | kTraceResponses)) {
    char line[64];
    std::snprintf(line, sizeof line, "unknown message %d\n", static_cast<int>(number));
    diag_.print("%s", line);
    write_record(events_, kSourceLxs, kLevelDebug, line);
    std::fflush(stdout);
  }
  safe_msg_free(message);
}

void Channel::format_fcp_error(const std::uint8_t* data) {
  char text[128];
  fcp_error_text(read_u32(data, lxs::kObjectId), read_u32(data, lxs::kStatus), text, sizeof text);
  recv_drv_msg(text, 0, kValueText, false, std::strlen(text) + 1);
}

void Channel::driver_event(const std::uint8_t* data) {
  char text[driver_event::kTextMax + 1];
  const char* source = reinterpret_cast<const char*>(data + driver_event::kText);
  std::size_t length = strnlen(source, driver_event::kTextMax);
  std::memcpy(text, source, length);
  text[length] = '\0';
  events_.write(kSourceDrv, event_level(read_u32(data, driver_event::kSeverity)), text);
}

int fill_index_fields(const char* index_text, std::uint8_t* message, const char* kinds,
                      const Diag* diag) {
  const bool trace = diag != nullptr && diag->on(kTraceIndex);
  const char* p = index_text != nullptr ? index_text : "";
  for (const char* letter = kinds; *letter != '\0' && *letter != ' '; ++letter) {
    char part[80];
    std::size_t length = 0;
    while (*p != '\0' && *p != '.' && *p != ' ') {
      if (length + 1 < sizeof part) part[length++] = *p;
      ++p;
    }
    part[length] = '\0';
    if (*p == '.') ++p;
    switch (*letter) {
      case 'I': {
        auto index = static_cast<std::uint32_t>(std::strtol(part, nullptr, 10));
        write_u32(message, lxs::kIndex, index);
        if (trace) {
          diag->print("index_buf = %s\n", part);
          diag->print("lxs_msg->index = 0x%X\n", index);
        }
        break;
      }
      case 'P':
        hex_to_wwn(part, message + lxs::kPortWwn);
        break;
      case 'N':
      case 'R': {
        bool node = *letter == 'N';
        std::uint8_t* w = message + (node ? lxs::kNodeWwn : lxs::kRemoteWwn);
        hex_to_wwn(part, w);
        if (trace) {
          diag->print(node ? "node_wwn_buf = %s\n" : "rem_node_wwn_buf = %s\n", part);
          diag->print(node ? "lxs_msg->node_wwn.raw = %X %X %X %X %X %X %X %X\n"
                           : "lxs_msg->remote_node_wwn.raw = %X %X %X %X %X %X %X %X\n",
                      w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        }
        break;
      }
      case 'A': {
        std::size_t n = length < lxs::kAdapterNameSize ? length : lxs::kAdapterNameSize - 1;
        std::memcpy(message + lxs::kAdapterName, part, n);
        message[lxs::kAdapterName + n] = '\0';
        break;
      }
      default:
        return -1;
    }
  }
  return 0;
}

}  // namespace tavro
