#include <windows.h>

#include <io.h>

#include <cstdint>
#include <cwchar>

#include "capture/output_file.h"

std::uint64_t LargestFileOnVolume(int descriptor) {
  // FAT12, FAT16 and FAT32 keep a file's size in 32 bits; exFAT, NTFS and
  // ReFS hold files far beyond what a take reaches. Asked of the file's own
  // handle: a folder may be the mount point of another volume.
  const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  wchar_t fileSystem[MAX_PATH + 1] = L"";
  if (file == INVALID_HANDLE_VALUE ||
      !GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1)) {
    return UINT64_MAX;
  }
  return std::wcsncmp(fileSystem, L"FAT", 3) == 0 ? 0xFFFFFFFFull : UINT64_MAX;
}
