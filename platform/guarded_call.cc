#include "platform/guarded_call.h"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr std::size_t kAltStackSize = 64 * 1024;

struct Frame {
  sigjmp_buf jump;
  bool fpe_was_blocked = false;
  volatile sig_atomic_t stop_pending = 0;
  Frame* outer = nullptr;
};

thread_local Frame* current_frame = nullptr;
// Set once a guarded call ran with SIGFPE blocked: the program takes a sent
// SIGFPE on a thread of its own (a stop request).
volatile sig_atomic_t fpe_taken_by_waiter = 0;
thread_local int last_signal = 0;

struct sigaction previous[NSIG];

// Frees this thread's alternate stack when the thread ends.
struct AltStack {
  void* memory = nullptr;
  ~AltStack() {
    if (memory == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    std::free(memory);
  }
};

thread_local AltStack alt_stack;
thread_local bool alt_stack_checked = false;

void ensure_alt_stack() {
  if (alt_stack_checked) return;
  alt_stack_checked = true;
  stack_t current{};
  if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return;
  long minimum = ::sysconf(_SC_SIGSTKSZ);
  std::size_t size = kAltStackSize;
  if (minimum > 0 && static_cast<std::size_t>(minimum) > size)
    size = static_cast<std::size_t>(minimum);
  void* memory = std::malloc(size);
  if (memory == nullptr) {
    alt_stack_checked = false;
    return;
  }
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = size;
  if (::sigaltstack(&stack, nullptr) != 0) {
    std::free(memory);
    alt_stack_checked = false;
    return;
  }
  alt_stack.memory = memory;
}

bool sent_from_outside(const siginfo_t* info) {
  if (info == nullptr) return false;
  if (info->si_code == SI_USER || info->si_code == SI_QUEUE) return true;
  return info->si_code == SI_TKILL && info->si_pid != ::getpid();
}

// Hands the signal to the disposition that was in place before ours.
void pass_on(int signal, siginfo_t* info, void* context) {
  const struct sigaction& before = previous[signal];
  if ((before.sa_flags & SA_SIGINFO) != 0) {
    before.sa_sigaction(signal, info, context);
    return;
  }
  if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
    before.sa_handler(signal);
    return;
  }
  bool from_outside = sent_from_outside(info) || (info != nullptr && info->si_code <= 0);
  if (before.sa_handler == SIG_IGN && from_outside) return;
  // Default action: a processor fault happens again on return; a sent
  // signal is raised again and delivered once the handler returns.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  if (from_outside) ::raise(signal);
}

void on_fault(int signal, siginfo_t* info, void* context) {
  Frame* frame = current_frame;
  // A thread that a library started inside a guarded call inherited SIGFPE
  // unblocked; a stop request that lands there is handed back to the
  // process with SIGFPE blocked on this thread from now on.
  if (frame == nullptr && signal == SIGFPE && fpe_taken_by_waiter != 0 && sent_from_outside(info) &&
      context != nullptr) {
    sigaddset(&static_cast<ucontext_t*>(context)->uc_sigmask, SIGFPE);
    ::kill(::getpid(), SIGFPE);
    return;
  }
  if (frame != nullptr) {
    if (!sent_from_outside(info)) {
      last_signal = signal;
      ::siglongjmp(frame->jump, signal);
    }
    if (signal == SIGFPE && frame->fpe_was_blocked) {
      frame->stop_pending = 1;
      return;
    }
  }
  pass_on(signal, info, context);
}

void install_handlers() {
  for (int signal : kFaultSignals) {
    struct sigaction action {};
    action.sa_sigaction = on_fault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, &previous[signal]);
  }
}

sigset_t fault_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kFaultSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

CallResult run_guarded(void (*body)(void* context), void* context) {
  static std::once_flag installed;
  std::call_once(installed, install_handlers);
  ensure_alt_stack();

  sigset_t before;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &before);
  Frame frame;
  frame.fpe_was_blocked = sigismember(&before, SIGFPE) == 1;
  if (frame.fpe_was_blocked) fpe_taken_by_waiter = 1;
  frame.outer = current_frame;
  // The mask is changed only when a fault signal is blocked, and put back
  // by hand (the jump buffer keeps no mask): a thread that has them all
  // unblocked makes no mask change on the normal path.
  const sigset_t faults = fault_set();
  bool unblock = false;
  for (int signal : kFaultSignals) unblock = unblock || sigismember(&before, signal) == 1;
  CallResult result = CallResult::kReturned;
  if (sigsetjmp(frame.jump, 0) == 0) {
    current_frame = &frame;
    if (unblock) ::pthread_sigmask(SIG_UNBLOCK, &faults, nullptr);
    body(context);
  } else {
    result = CallResult::kFaulted;
    unblock = true;  // the handler's mask holds the fault signal
  }
  current_frame = frame.outer;
  if (unblock) ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (frame.stop_pending != 0) ::kill(::getpid(), SIGFPE);
  return result;
}

int last_fault_signal() {
  return last_signal;
}

}  // namespace platform
