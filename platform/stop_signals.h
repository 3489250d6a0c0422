// Stop signals delivered to one waiting thread instead of an asynchronous
// handler, so the stop sequence may format text, write files and exit safely.
#pragma once

#include <csignal>
#include <functional>

namespace platform {

// Interrupt, termination, abort and floating-point, in the order they are installed.
inline constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGABRT, SIGFPE};

// Blocks the stop signals in the calling thread. Call it before any other
// thread starts so that every thread inherits the mask.
void block_stop_signals();

// Starts a detached thread that waits for the first stop signal and calls
// on_stop with its number. on_stop is expected to end the process.
void start_stop_signal_thread(std::function<void(int)> on_stop);

// A write to a pipe or socket whose reader has gone fails with EPIPE instead
// of ending the process.
void ignore_broken_pipes();

// Points standard input, output and error at /dev/null where they are closed,
// so that no file opened later takes one of their numbers.
void fill_standard_descriptors();

}  // namespace platform
