#include "support/failing_allocation.h"

#include <cstdlib>
#include <new>

namespace {

thread_local std::size_t failuresLeft = 0;
thread_local std::size_t failingSize = 0;

void* Allocate(std::size_t size) {
  if (failuresLeft > 0 && (failingSize == 0 || size == failingSize)) {
    --failuresLeft;
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void FailAllocations(std::size_t count, std::size_t size) {
  failuresLeft = count;
  failingSize = size;
}

// The plain and nothrow forms with their deletes, all over malloc and free,
// so that a sanitizer's allocator sees matching pairs.
void* operator new(std::size_t size) {
  void* memory = Allocate(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
