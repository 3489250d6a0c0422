#include "daemon/power.h"

#include <cstdio>

#include "base/diag.h"
#include "channel/channel.h"
#include "eventlog/event_log.h"

namespace tavro {
namespace {

struct NameRow {
  unsigned number;
  const char* name;
};

// clang-format off
constexpr NameRow kMessageNames[] = {
    {0, "WM_NULL"},
    {1, "WM_CREATE"},
    {2, "WM_DESTROY"},
    {3, "WM_MOVE"},
    {5, "WM_SIZE"},
    {6, "WM_ACTIVATE"},
    {15, "WM_PAINT"},
    {16, "WM_CLOSE"},
    {24, "WM_SHOWWINDOW"},
    {28, "WM_ACTIVATEAPP"},
    {36, "WM_GETMINMAXINFO"},
    {74, "WM_COPYDATA"},
    {129, "WM_NCCREATE"},
    {130, "WM_NCDESTROY"},
    {131, "WM_NCCALCSIZE"},
    {134, "WM_NCACTIVATE"},
    {272, "WM_INITDIALOG"},
    {273, "WM_COMMAND"},
    {275, "WM_TIMER"},
    {0, nullptr},
};
// clang-format on

constexpr NameRow kPowerEventNames[] = {
    {kPbtQuerySuspend, "PBT_APMQUERYSUSPEND"},
    {kPbtSuspend, "PBT_APMSUSPEND"},
    {kPbtResumeCritical, "PBT_APMRESUMECRITICAL"},
    {kPbtResumeSuspend, "PBT_APMRESUMESUSPEND"},
    {kPbtPowerStatusChange, "PBT_APMPOWERSTATUSCHANGE"},
    {kPbtResumeAutomatic, "PBT_APMRESUMEAUTOMATIC"},
    {0, nullptr},
};

const char* find_name(const NameRow* rows, std::uintptr_t number) {
  for (; rows->name != nullptr; ++rows) {
    if (rows->number == number) return rows->name;
  }
  return nullptr;
}

void trace_message(PowerWindow& p, unsigned message, std::uintptr_t wparam, std::intptr_t lparam) {
  char code[32];
  const char* name = nullptr;
  if (message == platform::kWmPowerBroadcast) {
    name = find_name(kPowerEventNames, wparam);
    if (name == nullptr) name = "WM_POWERBROADCAST";
  } else if ((name = find_name(kMessageNames, message)) == nullptr) {
    std::snprintf(code, sizeof code, "Code 0x%X", message);
    name = code;
  }
  char text[kRecordMax + 1];
  std::snprintf(text, sizeof text, "WMSG: Received %s message\twP(0x%X) lP(0x%X).", name,
                static_cast<unsigned>(wparam), static_cast<unsigned>(lparam));
  p.events.write(kSourceLxs, kLevelDebug, text);
}

void power_event(PowerWindow& p, std::uintptr_t code) {
  switch (code) {
    case kPbtQuerySuspend:
    case kPbtSuspend:
      p.channel.qdn_state(kDriverStandby);
      p.channel.qdn_close();
      break;
    case kPbtResumeCritical:
    case kPbtResumeSuspend:
    case kPbtResumeAutomatic:
      p.channel.qdn_state(kDriverReady);
      break;
    case kPbtPowerStatusChange:
      break;
    default:
      p.events.write(kSourceLxs, kLevelNotice, "Received unknown Power Management message",
                     static_cast<int>(code));
  }
  p.events.flush();
}

void log_failure(PowerWindow& p, const char* error, const char* debug) {
  p.events.write(kSourceLxs, kLevelError, error);
  p.events.write(kSourceLxs, kLevelDebug, debug);
}

}  // namespace

void nt4_RSMH(PowerWindow& p) {
  if (!p.class_registered) {
    const platform::WindowClass window_class{kPowerClassName, power_window_proc, 5 + 1, 8, 0, 0};
    if (!p.windows.register_class(window_class)) {
      log_failure(p, "Unable to register for Windows Messages (RegisterClass)",
                  "nt4_RSMH: RegisterClass failed.");
      return;
    }
    p.class_registered = true;
  }
  if (p.window != nullptr) return;
  p.window = p.windows.create_window(kPowerClassName, kPowerWindowTitle,
                                     platform::kWsPopup | platform::kWsDisabled, 0, 0, 0, 0, &p);
  if (p.window == nullptr) {
    log_failure(p, "Unable to register for Windows Messages (CreateWindow)",
                "nt4_RSMH: CreateWindow failed.");
    return;
  }
  p.events.write(kSourceLxs, kLevelDebug, "Register for Windows Messages completed.");
}

std::intptr_t power_window_proc(platform::Window& window, unsigned message, std::uintptr_t wparam,
                                std::intptr_t lparam) {
  auto* p = static_cast<PowerWindow*>(platform::window_param(window));
  if (p == nullptr) return platform::default_window_proc(window, message, wparam, lparam);
  if (p->diag.on(kTraceWindowMessages)) trace_message(*p, message, wparam, lparam);
  switch (message) {
    case platform::kWmDestroy:
      p->windows.loop().post_quit(0);
      return 0;
    case platform::kWmClose:
      p->windows.destroy_window(&window);
      p->windows.loop().post_quit(0);
      return 0;
    case platform::kWmPowerBroadcast:
      power_event(*p, wparam);
      return 1;
    default:
      return platform::default_window_proc(window, message, wparam, lparam);
  }
}

void start_power_events(PowerWindow& p, platform::SleepWatch& watch) {
  nt4_RSMH(p);
  if (p.window == nullptr) return;
  int r = watch.start(
      [&p](bool going_to_sleep) {
        p.windows.send_message(p.window, platform::kWmPowerBroadcast,
                               going_to_sleep ? kPbtSuspend : kPbtResumeAutomatic, 0);
      },
      "tavro");
  if (r < 0) {
    p.events.write(kSourceLxs, kLevelWarning, "No system bus: power events will not be seen", -r);
  } else if (watch.lock_status() < 0) {
    p.events.write(kSourceLxs, kLevelWarning, "No sleep delay lock: suspend may not wait",
                   -watch.lock_status());
  }
}

}  // namespace tavro
