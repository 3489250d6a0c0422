#include "hbaapi_bridge/hbaapi.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/diag.h"
#include "base/message.h"
#include "base/text.h"
#include "eventlog/event_log.h"
#include "eventlog/request_log.h"
#include "hbaapi_bridge/call_forms.h"
#include "platform/debug_output.h"
#include "platform/module_loader.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTrace = 0x400000;   // Debug bit of the bridge's traces
constexpr std::uint32_t kNoteBit = 0x40000;  // LogFlags bit of the request note
constexpr int kMaxTokens = 7;

constexpr const char* kStatusTexts[] = {
    "OK",
    "general",
    "Function not supported",
    "invalid handle",
    "Bad argument",
    "WWN not recognized",
    "Index not recognized",
    "Larger buffer required",
};

// Replies on the daemon's connection: an empty text goes out as one zero byte.
class SocketSink final : public ReplySink {
 public:
  SocketSink(const Diag& diag, platform::socket_t connection)
      : diag_(diag), connection_(connection) {}
  int reply(const char* text) override {
    std::size_t length = std::strlen(text);
    if (length == 0) length = 1;  // the terminator itself
    ssize_t sent = platform::send_bytes(connection_, text, length);
    if (sent >= 0 && static_cast<std::size_t>(sent) >= length) return 0;
    diag_.report_error("api_reply(send()) ERROR:");
    return 1;
  }

 private:
  const Diag& diag_;
  platform::socket_t connection_;
};

int reply_error(HbaApiRequest& request, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
int reply_error(HbaApiRequest& request, const char* format, ...) {
  char text[kMessageSize + 1];
  int n = std::snprintf(text, sizeof text, "%s", "Error: ");
  va_list args;
  va_start(args, format);
  std::vsnprintf(text + n, sizeof text - static_cast<std::size_t>(n), format, args);
  va_end(args);
  return api_reply(request, text, 1);
}

// A whole decimal number, at least one digit.
bool whole_number(const char* token, long long* value) {
  HbaNumber n = hbaapi_read_number(token, 10);
  if (!n.fits || n.end == token || *n.end != '\0') return false;
  *value = n.value;
  return true;
}

bool system_library_present(const char* file) {
  if (*file == '\0') return false;  // an empty name would probe the program itself
  void* module = ::dlopen(file, RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) return false;
  ::dlclose(module);
  return true;
}

const char* system_library() {
  const char* file = std::getenv(kHbaApiSystemVariable);
  return file != nullptr ? file : kHbaApiSystemDefault;
}

}  // namespace

int api_reply(HbaApiRequest& request, const char* text, int result) {
  const Diag& diag = request.api.diag();
  if (diag.on(kTrace)) diag.print("%s() %s\n", "API_RSP", text);
  return request.sink.reply(text) != 0 ? 1 : result;
}

void hbaapi_status_text(std::uint32_t status, char* out, std::size_t cap) {
  if (status < std::size(kStatusTexts)) {
    std::snprintf(out, cap, "%s", kStatusTexts[status]);
  } else {
    std::snprintf(out, cap, "Code %d", static_cast<int>(status));
  }
}

int hbaapi_not_implemented(HbaApiRequest& request, const HbaApiFunction& row) {
  return reply_error(request, "Function not implemented yet: %s.", row.name);
}

int HbaApi::request(platform::socket_t connection, const char* text) {
  SocketSink sink(diag_, connection);
  return serve(sink, connection, text);
}

int HbaApi::serve(ReplySink& sink, platform::socket_t connection, const char* text) {
  ++count_;
  if (diag_.on(kTrace)) diag_.print("%s\n", text);
  if (requests_ != nullptr && (static_cast<std::uint32_t>(requests_->flags()) & kNoteBit) != 0) {
    requests_->note_request(connection, text);
  }
  char work[kMessageSize + 1];
  std::snprintf(work, sizeof work, "%s", text);
  char reply[kMessageSize + 1] = "";
  char* tokens[kMaxTokens] = {};
  HbaApiRequest request{*this, sink, tokens, 0, reply, sizeof reply};
  if (enable_ != 0) return reply_error(request, "Requests disabled.");
  load();
  request.token_count = string2toks(work, ".|", tokens, kMaxTokens, &diag_);
  return dispatch(request);
}

int HbaApi::dispatch(HbaApiRequest& request) {
  if (request.token_count == 0) return reply_error(request, "Invalid request format.");
  long long number = 0;
  if (!whole_number(request.tokens[0], &number)) return reply_error(request, "Invalid ID format.");
  if (number < 0 || number >= kHbaApiFunctionCount) {
    return reply_error(request, "Unknown ID(%lld).", number);
  }
  const int id = static_cast<int>(number);
  const HbaApiFunction& row = hbaapi_function_table[id];
  if (addresses_[static_cast<std::size_t>(id)] == nullptr) {
    return reply_error(request, "%s(%d) not supported by API Library.", row.name, id);
  }
  if (request.token_count - 1 != hbaapi_inputs(row) + 1) {
    return reply_error(request, "Incorrect param count(Expect %d, Got %d).", hbaapi_inputs(row) + 1,
                       request.token_count - 1);
  }
  return row.caller(request, row);
}

int HbaApi::format_stats(char* out, std::size_t cap) const {
  return std::snprintf(out, cap, "%s%c%d", "HBAAPI ", ';', static_cast<int>(count_));
}

void HbaApi::load() {
  if (loaded_) return;
  if (open() != 0) {
    diag_.print("HBA API Wrapper Library : Error on loading.\n");
    return;
  }
  if (diag_.on(kTrace)) diag_.print("HBA API Wrapper Library loaded.\n");
  hbaapi_count_fields(counts_, &diag_);
  void* load_library = addresses_[kHbaLoadLibrary];
  if (load_library == nullptr) return;  // tried again on the next request
  if (hbaapi_call_form(hbaapi_function_table[kHbaLoadLibrary].call_kind,
                       hbaapi_function_table[kHbaLoadLibrary].signature, load_library, {}, {})
          .result == HbaResult::kFaulted) {
    note_exception(hbaapi_function_table[kHbaLoadLibrary].name);
    return;
  }
  loaded_ = true;
}

// The libhbaapi.so of the chosen set of libraries; only when there is none
// anywhere, the system's common library. A libhbaapi.so that is there but
// cannot be loaded stays a failure: another set's library never stands in.
void* HbaApi::load_library(int* error, std::string* failed) {
  void* module = platform::load_module(kHbaApiLibrary, error, failed);
  if (module != nullptr || !failed->empty()) return module;
  const char* system = system_library();
  if (*system == '\0') return nullptr;
  module = ::dlopen(system, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) *failed = system;
  return module;
}

int HbaApi::open() {
  if (module_ != nullptr &&
      (platform::module_present(kHbaApiLibrary) || system_library_present(system_library()))) {
    return 0;
  }
  if (diag_.on(kTrace)) diag_.print("api_open: Loading Wrapper Library DLL.\n");
  int error = 0;
  std::string failed;
  void* module = load_library(&error, &failed);
  if (module == nullptr && !failed.empty()) {
    std::string text = "API file cannot be loaded! (" + failed + ")";
    event(kLevelError, text.c_str(), error);
    return -1;
  }
  if (module == nullptr) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "TAVRO: load_WrapperSyms: Unable to load API Library DLL: %s (err==%d)\n",
                  kHbaApiLibrary, error);
    if (diag_.on(kTrace)) {
      diag_.print("%s", line);
      platform::debug_output(line);
    }
    event(kLevelError, "API file not found! (hbaapi)", error);
    return -1;
  }
  module_ = module;
  for (int i = 0; i < kHbaApiFunctionCount; ++i) {
    const char* name = hbaapi_function_table[i].name;
    addresses_[static_cast<std::size_t>(i)] = platform::module_symbol(module, name);
    if (addresses_[static_cast<std::size_t>(i)] == nullptr) {
      diag_.print("Function '%s' (%d) Not found in %s.DLL\n", name, i, kHbaApiLibrary);
    }
  }
  // The file itself, also when it was reached through a link.
  std::filesystem::path path = platform::module_path(module);
  std::error_code unresolved;
  std::filesystem::path file = std::filesystem::canonical(path, unresolved);
  std::string text = "HBA API Library loaded: " + (unresolved ? path : file).string();
  event(kLevelNotice, text.c_str());
  return 0;
}

void HbaApi::unload() {
  void* free_library = addresses_[kHbaFreeLibrary];
  if (free_library != nullptr &&
      hbaapi_call_form(hbaapi_function_table[kHbaFreeLibrary].call_kind,
                       hbaapi_function_table[kHbaFreeLibrary].signature, free_library, {}, {})
              .result == HbaResult::kFaulted) {
    note_exception(hbaapi_function_table[kHbaFreeLibrary].name);
  }
  loaded_ = false;
}

void HbaApi::note_exception(const char* function) {
  char text[96];
  std::snprintf(text, sizeof text, "Program Exception: %s", function);
  event(kLevelError, text);
}

void HbaApi::event(int level, const char* text, int error) {
  if (!events_.is_open()) events_.open();
  events_.write(kSourceLxs, level, text, error);
}

}  // namespace tavro
