// Everything the request daemon keeps for its whole run, owned by the
// program's start-up code and handed to the request loop and the handlers.
#pragma once

#include <cstdint>

#include "base/diag.h"
#include "channel/channel.h"
#include "daemon/http.h"
#include "daemon/power.h"
#include "daemon/server.h"
#include "daemon/service_commands.h"
#include "daemon/settings.h"
#include "eventlog/event_log.h"
#include "eventlog/log_commands.h"
#include "eventlog/request_log.h"
#include "hbaapi_bridge/hbaapi.h"
#include "objects/direct/direct_access.h"
#include "objects/fc_commands.h"
#include "objects/object_call.h"
#include "platform/message_loop.h"
#include "platform/sleep_watch.h"
#include "platform/window.h"

namespace tavro {

struct Daemon {
  Daemon() { diag.attach_logs(&events, &requests); }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  Settings settings;
  Diag diag{settings.debug};
  EventLog events{{settings.fc_log_file, settings.fc_log_open, settings.fc_log_flags}, &diag};
  RequestLog requests{{settings.log_file, settings.log_open, settings.log_flags}, &diag};
  ServerState server;
  ServiceCounters service;
  HttpState http;
  HbaApi hbaapi{diag, events, &requests, settings.hba_api_req};
  LogCommands log_commands{requests, diag};
  Channel channel{diag, events, &requests};
  ObjectServices object_services{channel, diag, events, &requests, server.start};
  DirectAccess direct{diag, platform::Registry::default_root()};
  FcCommands fc_commands{object_services, settings.fc_get_req, settings.fc_set_req, &direct,
                         &hbaapi};
  platform::MessageLoop main_loop;
  platform::Windows windows{main_loop};
  PowerWindow power{windows, channel, events, diag};
  platform::SleepWatch sleep_watch;
};

}  // namespace tavro
