// A run-time library whose functions fault on purpose, for the guarded-call
// and module-loading tests.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

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
  *reinterpret_cast<volatile int*>(wild_address) = 1;
}

// Reads a mapped page of an empty file.
void fault_bus() {
  int fd = ::memfd_create("fault_bus", 0);
  void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (page != MAP_FAILED) (void)static_cast<volatile const char*>(page)[0];
}

int fault_recurse(int depth) {
  volatile char frame[2048];
  frame[0] = static_cast<char>(depth);
  return depth == 0 ? frame[0] : fault_recurse(depth - 1) + frame[0];
}

}  // extern "C"
