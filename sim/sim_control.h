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

// Faults for one request message number (the number the program sends).
void sim_fault_delay(std::uint32_t message, int milliseconds);
void sim_fault_no_answer(std::uint32_t message, int on);
void sim_fault_wrong_number(std::uint32_t message, int on);
void sim_fault_wrong_object(std::uint32_t message, int on);
// LXS failure status 2 to 5 in the answer; 0 removes the fault.
void sim_fault_lxs_status(std::uint32_t message, int status);

// Reports a driver error (kind 86 with the value) to every registered handler.
void sim_fault_driver_error(std::uint32_t value);
// The next call of the named q_ function faults inside the library (SIGSEGV).
void sim_fault_crash(const char* function_name);
// The next count q_msg_alloc calls return null.
void sim_fault_alloc_fail(int count);
// The next count q_register_msg_handler calls fail.
void sim_fault_refuse_register(int count);

// Model changes that also send a driver event to the registered handlers.
int sim_set_link(int adapter, int port, int up);

// Counters for tests: requests received, answers delivered, messages freed.
std::uint32_t sim_requests_received(void);
std::uint32_t sim_answers_delivered(void);
std::uint32_t sim_messages_freed(void);

}  // extern "C"
