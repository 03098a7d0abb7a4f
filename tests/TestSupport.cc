#include "TestSupport.h"

#include <cstdlib>
#include <new>

// Lets the allocation-failure tests see a null result from malloc under
// AddressSanitizer instead of an abort.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace clouddb_test {

thread_local long allocationsUntilFailure = 0;

}  // namespace clouddb_test

// Global allocation with a fault point: while armed, the k-th allocation on
// this thread throws std::bad_alloc.
void* operator new(size_t size) {
  long& countdown = clouddb_test::allocationsUntilFailure;
  if (countdown > 0 && --countdown == 0) throw std::bad_alloc();
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void operator delete(void* memory) noexcept { std::free(memory); }

void operator delete(void* memory, size_t) noexcept { std::free(memory); }
