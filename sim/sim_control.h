// Control interface of the simulated driver, exported by libQFCMsgLib.so next
// to the message library functions. In-process tests link the library (or
// look these up in the loaded module) to steer the model and inject faults.
#pragma once

#include <cstdint>

extern "C" {

// Environment variable naming a JSON model file; without it the embedded
// default model is used.
#define SIM_MODEL_VARIABLE "TAVRO_SIM_MODEL"

// Drops all faults and reloads the model the library started with.
void sim_reset(void);
// Replaces the model with one given as JSON text; returns 0 on success.
int sim_load_model_json(const char* json);
void sim_clear_faults(void);
// Replaces the model with the one in a JSON file; returns 0 on success. A
// model that loads also replaces all faults with its "faults" section.
int sim_load_model_file(const char* path);
// Why the last model load failed (also why the library refuses to start when
// the TAVRO_SIM_MODEL file is bad); "" when it did not fail. The text stays
// valid until the next call.
const char* sim_last_error(void);

// Faults for one request message number (the number the program sends).
void sim_fault_delay(std::uint32_t message, int milliseconds);
void sim_fault_no_answer(std::uint32_t message, int on);
void sim_fault_wrong_number(std::uint32_t message, int on);
// The answer to message carries number instead of its response number.
void sim_fault_wrong_number_to(std::uint32_t message, std::uint32_t number);
void sim_fault_wrong_object(std::uint32_t message, int on);
// LXS failure status 2 to 5 in the answer; 0 removes the fault.
void sim_fault_lxs_status(std::uint32_t message, int status);

// Delivery modes for one request message number: the answer comes on the
// caller's thread inside q_send_msg_by_name; it comes twice (the copy when
// the next request of that number arrives); the next answer
// is held until the next request of the same number arrives and delivered
// just before that request's own answer (once).
void sim_fault_caller_thread(std::uint32_t message, int on);
void sim_fault_twice(std::uint32_t message, int on);
void sim_fault_late(std::uint32_t message, int on);

// Reports a driver error (kind 86 with the value) to every registered handler.
void sim_fault_driver_error(std::uint32_t value);
// Reports the driver error when a request with this message number arrives
// (before its answer, if any); 0 removes the fault.
void sim_fault_driver_error_on(std::uint32_t message, std::uint32_t value);
// The next call of the named q_ function faults inside the library (SIGSEGV).
void sim_fault_crash(const char* function_name);
// As sim_fault_crash with another signal: SIGSEGV (null write), SIGILL (trap
// instruction), SIGFPE (integer division by zero), others raised. 0 on
// success, -1 for an unknown function name.
int sim_fault_crash_signal(const char* function_name, int signal);
// The next count q_msg_alloc calls return null.
void sim_fault_alloc_fail(int count);
// The next count q_register_msg_handler calls fail.
void sim_fault_refuse_register(int count);

// Model changes that also send a driver event to the registered handlers.
// adapter and port count from 0. Returns 0 (also when nothing changed), -1 for
// no such port, -2 when asked to bring up the link of a disabled port (state 0).
int sim_set_link(int adapter, int port, int up);
// Sends a driver event (0x0300000B) with this severity code and text.
void sim_send_event(std::uint32_t severity, const char* text);
// Moves the model's clock on (traffic counters grow with link-up time).
void sim_advance_clock(int milliseconds);
// Waits until nothing is queued or being delivered; 0, or -1 on time-out.
int sim_wait_idle(int timeout_ms);

// Counters for tests: requests received, answers delivered, messages freed.
std::uint32_t sim_requests_received(void);
std::uint32_t sim_answers_delivered(void);
std::uint32_t sim_messages_freed(void);
// Driver events delivered; requests and answers dropped (unknown destination,
// or the registration gone before delivery); calls with a pointer the library
// did not hand out (or a data area sent twice, or a message freed twice).
std::uint32_t sim_events_delivered(void);
std::uint32_t sim_requests_dropped(void);
std::uint32_t sim_invalid_calls(void);
// Data areas and messages not yet released (allocated, queued or delivered).
std::uint32_t sim_messages_outstanding(void);

}  // extern "C"
