// The hidden power-management window: suspend puts the driver channel into
// standby and closes it, resume sets it ready again (the next request that
// needs the channel opens it).
#pragma once

#include <cstdint>

#include "platform/sleep_watch.h"
#include "platform/window.h"

namespace tavro {

class Channel;
class Diag;
class EventLog;

inline constexpr char kPowerClassName[] = "LTX Target Support Msg Handler";
inline constexpr char kPowerWindowTitle[] = "Lanternix Target Support (TAVRO)";

// Power events: the event code of WM_POWERBROADCAST.
inline constexpr unsigned kPbtQuerySuspend = 0;
inline constexpr unsigned kPbtSuspend = 4;
inline constexpr unsigned kPbtResumeCritical = 6;
inline constexpr unsigned kPbtResumeSuspend = 7;
inline constexpr unsigned kPbtPowerStatusChange = 10;
inline constexpr unsigned kPbtResumeAutomatic = 18;

inline constexpr std::uint32_t kTraceWindowMessages = 0x10000000;

struct PowerWindow {
  platform::Windows& windows;
  Channel& channel;
  EventLog& events;
  const Diag& diag;
  bool class_registered = false;
  platform::Window* window = nullptr;
};

// Registers the window class (once) and creates the window (once).
void nt4_RSMH(PowerWindow& power);

std::intptr_t power_window_proc(platform::Window& window, unsigned message, std::uintptr_t wparam,
                                std::intptr_t lparam);

// Creates the window and has the sleep notices of the system delivered to it
// as suspend and resume-automatic events.
void start_power_events(PowerWindow& power, platform::SleepWatch& watch);

}  // namespace tavro
