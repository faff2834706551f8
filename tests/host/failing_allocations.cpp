#include "failing_allocations.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <new>

namespace failing_allocations {
namespace {

thread_local bool counting = false;
thread_local uint64_t counted = 0;
thread_local uint64_t failing = 0;

bool thisOneFails() {
  if (!counting) {
    return false;
  }
  counted += 1;
  return counted == failing;
}

void *allocate(std::size_t bytes) noexcept { return thisOneFails() ? nullptr : std::malloc(bytes == 0 ? 1 : bytes); }

}  // namespace

void failNthAllocation(uint64_t n) {
  counting = n != 0;
  counted = 0;
  failing = n;
}

uint64_t allocationsCounted() { return counted; }

}  // namespace failing_allocations

void *operator new(std::size_t bytes) {
  if (void *memory = failing_allocations::allocate(bytes)) {
    return memory;
  }
  throw std::bad_alloc();
}

void *operator new[](std::size_t bytes) { return operator new(bytes); }
void *operator new(std::size_t bytes, const std::nothrow_t &) noexcept { return failing_allocations::allocate(bytes); }
void *operator new[](std::size_t bytes, const std::nothrow_t &) noexcept { return failing_allocations::allocate(bytes); }
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }

extern "C" int posix_memalign(void **memory, std::size_t alignment, std::size_t bytes) {
  using Allocator = int (*)(void **, std::size_t, std::size_t);
  static const Allocator system = reinterpret_cast<Allocator>(dlsym(RTLD_NEXT, "posix_memalign"));
  return failing_allocations::thisOneFails() ? ENOMEM : system(memory, alignment, bytes);
}
