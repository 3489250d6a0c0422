// Direct-object texts: the lookup, node entry numbers, node entry writes and
// setting values, over the simulated devices and a registry folder of its own.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/diag.h"
#include "objects/direct/direct_handlers.h"

namespace {

// Checks that every reply is a terminated text of bounded length.
class CheckedSink final : public tavro::ReplySink {
 public:
  int reply(const char* text) override {
    if (std::strlen(text) > 4200) std::abort();
    return 0;
  }
};

tavro::DirectAccess& direct() {
  static std::int32_t debug = 0;
  static tavro::Diag diag(debug);
  static tavro::DirectAccess* access = [] {
    char dir[] = "/tmp/fuzz_direct.XXXXXX";
    diag.set_stdout(false);
    return new tavro::DirectAccess(diag, mkdtemp(dir) != nullptr ? dir : "/nonexistent");
  }();
  return *access;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size < 4000 ? size : 4000);
  input = input.substr(0, input.find('\0'));
  CheckedSink sink;
  tavro::DirectAccess& access = direct();
  const std::string reads[] = {input, "1.2.1.2." + input};
  const std::string writes[] = {input, "2.2.1.2. " + input, "1.2.1.2. " + input,
                                "3.3.1.1.0 " + input};
  for (const auto& text : reads) {
    tavro::fcdi_lookup(access, sink, text.c_str(), tavro::fcdi_get_table, tavro::kFcdiRead);
  }
  for (const auto& text : writes) {
    tavro::fcdi_lookup(access, sink, text.c_str(), tavro::fcdi_set_table, tavro::kFcdiWrite);
  }
  return 0;
}
