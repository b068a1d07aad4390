#include <windows.h>

#include "capture/memory_left.h"

std::uint64_t MemoryLeft() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullAvailPageFile : UINT64_MAX;
}
