// A run-time library whose functions fault on purpose, for the guarded-call
// and module-loading tests.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#ifndef PROBE_ID
#define PROBE_ID 1
#endif

extern "C" {

int probe_id() {
  return PROBE_ID;
}

int fault_add(int a, int b) {
  return a + b;
}

// An unmapped address the compiler cannot see through.
volatile std::uintptr_t wild_address = 16;

void fault_segv() {
  volatile int* wild = reinterpret_cast<volatile int*>(wild_address);
  *wild = 1;
}

void fault_ill() {
  __builtin_trap();
}

void fault_fpe() {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("xorl %%ecx, %%ecx\n\tdivl %%ecx" ::: "eax", "ecx", "edx", "cc");
#else
  raise(SIGFPE);
#endif
}

// Reads a page of a mapped file that has no bytes behind it.
void fault_bus(const char* scratch_path) {
  int fd = ::open(scratch_path, O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return;
  void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (page == MAP_FAILED) return;
  volatile const char* bytes = static_cast<const char*>(page);
  (void)bytes[0];
  ::munmap(page, 4096);
}

int fault_recurse(int depth) {
  volatile char frame[2048];
  frame[0] = static_cast<char>(depth);
  if (depth == 0) return frame[0];
  return fault_recurse(depth - 1) + frame[0];
}

void fault_raise(int signal) {
  ::raise(signal);
}

void fault_kill_self(int signal) {
  ::kill(::getpid(), signal);
}

void fault_queue_self(int signal) {
  union sigval value {};
  ::sigqueue(::getpid(), signal, value);
}

}  // extern "C"
