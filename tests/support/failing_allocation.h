#pragma once

#include <cstddef>

// Linked into the tests that run out of memory on purpose: replaces the
// global operator new so that the calling thread's next allocations fail
// with std::bad_alloc, as they would with no memory left. Other threads,
// and every allocation once these have failed, are served as usual.

// The calling thread's next `count` allocations of exactly `size` bytes
// (of any size when size is 0) fail.
void FailAllocations(std::size_t count, std::size_t size = 0);
