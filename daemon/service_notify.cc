#include "daemon/service_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>
#include <string>

#include "channel/discovery.h"
#include "daemon/daemon.h"
#include "platform/net.h"

namespace tavro {
namespace {

std::string adapter_text(Daemon& d) {
  if (!d.channel.channel_open()) return "driver not opened";
  char count[64] = "0";
  if (adapter_count(d.channel, count, sizeof count) != Transaction::kAnswered) {
    return std::string("adapter count unknown (") + count + ")";
  }
  return std::string(count) + (std::string(count) == "1" ? " adapter" : " adapters");
}

}  // namespace

void notify_ready(Daemon& d) {
  if (std::getenv("NOTIFY_SOCKET") == nullptr) return;
  const std::string& library = d.channel.library_path();
  std::string status = std::string("Listening on ") + platform::listen_address() + ":" +
                       std::to_string(d.settings.port) + "; driver library " +
                       (library.empty() ? "not found" : library) + "; " + adapter_text(d);
  sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

}  // namespace tavro
