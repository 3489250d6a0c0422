// One HBAAPI request text (after the prefix) through the bridge, with the
// simulated HBA API library when it lies next to the program.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/diag.h"
#include "base/message.h"
#include "eventlog/event_log.h"
#include "hbaapi_bridge/hbaapi.h"

namespace {

// A reply longer than a message would overrun the client's buffer.
class Discard final : public tavro::ReplySink {
 public:
  int reply(const char* text) override {
    if (std::strlen(text) > tavro::kMessageSize) std::abort();
    return 0;
  }
};

struct Bridge {
  std::int32_t debug = 0;
  std::int32_t enabled = 0;
  char log_path[256] = "";
  std::int32_t log_open = 0;
  std::int32_t log_flags = 0;
  tavro::Diag diag{debug};
  tavro::EventLog events{{log_path, log_open, log_flags}, &diag};
  tavro::HbaApi api{diag, events, nullptr, enabled};
  Bridge() { diag.set_stdout(false); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Bridge* bridge = new Bridge;
  std::string text(reinterpret_cast<const char*>(data),
                   size < tavro::kMessageSize ? size : tavro::kMessageSize);
  Discard sink;
  bridge->api.serve(sink, tavro::kNoConnection, text.c_str());
  return 0;
}
