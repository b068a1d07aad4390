#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Why a file operation failed, as the C runtime reports it: errno, and on
// Windows also the system's own error code (_doserrno), which tells a full
// disk from a pulled one more precisely. All zero for success.
struct FileError {
  int errnoValue = 0;
  std::uint32_t systemCode = 0;

  explicit operator bool() const { return errnoValue != 0 || systemCode != 0; }
};

// A file written straight through the C runtime's descriptor calls, so that
// every failure says why. Not copyable; closes itself, silently, if nobody
// closed it.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Creates the file, or empties one that exists.
  FileError Open(const std::wstring& path);
  // All of the bytes, or the error that stopped them.
  FileError Write(const void* data, std::size_t bytes);
  // Flushes the file to the disk, then closes it: a disk that fails late
  // (full, removed) shows here rather than after "Saved to:".
  FileError Close();

 private:
  int descriptor = -1;
  std::uint64_t position = 0;  // bytes written so far
};

// Removes the file if it is one (not a device); false if nothing was removed.
bool RemoveFile(const std::wstring& path);
