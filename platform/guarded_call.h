// Calls into a loaded library that survive a fault inside it.
//
// A SIGSEGV, SIGBUS, SIGILL or SIGFPE raised by the code run inside
// guarded_call (by the processor, or by that thread raising it itself) ends
// the call and returns kFaulted to the caller, through a per-thread jump
// buffer; the handler runs on an alternate signal stack so that a stack
// overflow is caught as well. The four signals are unblocked for the call's
// duration.
//
// A signal sent from outside with kill() or sigqueue() is never taken for a
// fault. A SIGFPE sent that way while the caller had SIGFPE blocked (the
// stop-signal setup of the daemon) is sent to the process again once the call
// is over and the mask restored, so it reaches the stop-signal thread.
//
// A thread started inside a guarded call (a library's own thread) inherits
// the four signals unblocked. Once a guarded call has run with SIGFPE
// blocked, a SIGFPE sent from outside that lands on such a thread is sent to
// the process again with SIGFPE blocked on that thread, so it too reaches the
// stop-signal thread.
//
// Otherwise, outside a guarded call and for the signals sent from outside,
// the disposition that was in place before is kept (usually: the process ends).
//
// The code behind the fault is abandoned where it stood: locks it held stay
// held and its objects are not destroyed. Keep the body a plain call through
// a function pointer, with nothing that needs destruction in between.
#pragma once

namespace platform {

enum class CallResult { kReturned, kFaulted };

CallResult run_guarded(void (*body)(void* context), void* context);

// The signal that ended this thread's last faulted call, 0 if none.
int last_fault_signal();

// Runs body() guarded; a null address counts as a fault without calling.
template <typename Address, typename Body>
CallResult guarded_call(Address address, Body&& body) {
  if (address == nullptr) return CallResult::kFaulted;
  return run_guarded([](void* context) { (*static_cast<decltype(&body)>(context))(); },
                     static_cast<void*>(&body));
}

}  // namespace platform
