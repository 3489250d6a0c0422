// The HBA API bridge: the HBAAPI command calls functions of the SNIA HBA API
// library by number and replies their outputs as text fields.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "hbaapi_bridge/function_table.h"
#include "hbaapi_bridge/render.h"
#include "objects/object_call.h"
#include "platform/net.h"

namespace tavro {

class Diag;
class EventLog;
class RequestLog;
class HbaApi;

// The library's plain name: the module loader's "libhbaapi.so".
inline constexpr const char* kHbaApiLibrary = "hbaapi";
// Names the system's common HBA API library, loaded when no libhbaapi.so is
// found at all; empty for none. By default the file the build found.
inline constexpr const char* kHbaApiSystemVariable = "TAVRO_HBAAPI_LIBRARY";
inline constexpr const char* kHbaApiSystemDefault = TAVRO_SYSTEM_HBAAPI;

// One request on its way through a caller.
struct HbaApiRequest {
  HbaApi& api;
  ReplySink& sink;
  char** tokens;  // token 1 the function number, token 2 the field selector, then the inputs
  int token_count;
  char* reply;  // kMessageSize + 1 bytes
  std::size_t cap;
};

// Sends text through the request's sink; returns result, or 1 when the reply
// could not be sent.
int api_reply(HbaApiRequest& request, const char* text, int result);

// Writes the text of an HBA status ("OK", ..., "Code <n>").
void hbaapi_status_text(std::uint32_t status, char* out, std::size_t cap);

class HbaApi {
 public:
  // enable is the HbaApiReq setting: 0 when requests are enabled.
  HbaApi(const Diag& diag, EventLog& events, RequestLog* requests, const std::int32_t& enable)
      : diag_(diag), events_(events), requests_(requests), enable_(enable) {}
  HbaApi(const HbaApi&) = delete;
  HbaApi& operator=(const HbaApi&) = delete;

  // The HBAAPI handler: text is the request after "HBAAPI " (or after the
  // FCGET branch prefix); the reply goes out on the connection.
  int request(platform::socket_t connection, const char* text);
  // The same with the reply delivered to sink.
  int serve(ReplySink& sink, platform::socket_t connection, const char* text);

  // "HBAAPI ;<count>" for STATS.
  int format_stats(char* out, std::size_t cap) const;
  // Releases the library (HBA_FreeLibrary); the module itself stays loaded.
  void unload();

  std::uint32_t count() const { return count_; }
  bool loaded() const { return loaded_; }
  void* address(int number) const { return addresses_[static_cast<std::size_t>(number)]; }
  const HbaFieldCounts& field_counts() const { return counts_; }
  const Diag& diag() const { return diag_; }
  // Logs a fault inside the library's function.
  void note_exception(const char* function);

 private:
  int dispatch(HbaApiRequest& request);
  void load();
  int open();
  void* load_library(int* error, std::string* failed);
  void event(int level, const char* text, int error = -1);

  const Diag& diag_;
  EventLog& events_;
  RequestLog* requests_;
  const std::int32_t& enable_;
  bool loaded_ = false;
  void* module_ = nullptr;
  std::array<void*, kHbaApiFunctionCount> addresses_{};
  HbaFieldCounts counts_{};
  std::uint32_t count_ = 0;
};

}  // namespace tavro
