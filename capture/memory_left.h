#pragma once

#include <cstdint>

// Bytes the process may still allocate before an allocation fails. Windows
// does not overcommit: an allocation fails once the system's commit limit
// is reached, so this is the commit left to it (GlobalMemoryStatusEx's
// ullAvailPageFile). UINT64_MAX when the system does not say. The platform
// defines it.
std::uint64_t MemoryLeft();
