#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// Why a file operation failed, as the C runtime reports it: errno, and on
// Windows also the system's own error code (_doserrno), which tells a full
// disk from a pulled one more precisely. All zero for success.
struct FileError {
  int errnoValue = 0;
  std::uint32_t systemCode = 0;

  explicit operator bool() const { return errnoValue != 0 || systemCode != 0; }
};

// The C runtime's descriptor calls as OutputFile makes them. Tests put in
// their own, which fail as a real disk does but not on demand; each sets
// errno (and on Windows _doserrno) as the runtime's call would.
struct FileCalls {
  // For writing, created or emptied (created only, when exclusive: EEXIST
  // if it exists); -1 on failure.
  int (*open)(const std::filesystem::path& path, bool exclusive);
  int (*write)(int descriptor, const void* data, std::size_t bytes);  // bytes stored, or -1
  int (*flush)(int descriptor);  // to the disk (_commit, fsync); 0, or -1
  std::int64_t (*seek)(int descriptor, std::int64_t offset, int origin);  // the new position, or -1
  int (*close)(int descriptor);
  // Bytes this user may still write on the volume that holds the file;
  // UINT64_MAX when the system does not say.
  std::uint64_t (*freeSpace)(const std::filesystem::path& file);
  // The largest file the volume that holds the open file takes (FAT32's
  // 4 GB - 1 byte); UINT64_MAX, or no call, when it has no such limit.
  std::uint64_t (*largestFile)(int descriptor) = nullptr;
};
const FileCalls& SystemFileCalls();
// FileCalls::largestFile as the platform answers it, from the open file
// itself: a folder may be another volume's mount point.
std::uint64_t LargestFileOnVolume(int descriptor);

// A file written straight through the C runtime's descriptor calls, so that
// every failure says why. Not copyable; closes itself, silently, if nobody
// closed it.
class OutputFile {
 public:
  explicit OutputFile(const FileCalls& fileCalls = SystemFileCalls()) : calls(fileCalls) {}
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Creates the file, or empties one that exists; exclusive, only creates.
  FileError Open(const std::wstring& path, bool exclusive = false);
  bool IsOpen() const { return descriptor >= 0; }
  // Appends all of the bytes, or says what stopped them; Size() counts
  // those stored before the failure.
  FileError Write(const void* data, std::size_t bytes);
  // Replaces bytes already written, from offset on; appending goes on at
  // the end.
  FileError Overwrite(std::uint64_t offset, const void* data, std::size_t bytes);
  // Hands what the system holds of the file to the disk.
  FileError Flush();
  // Flushes the file to the disk, then closes it: a disk that fails late
  // (full, removed) shows here rather than after "Saved to:".
  FileError Close();
  std::uint64_t Size() const { return position; }
  // Free space on the file's volume, as FileCalls::freeSpace.
  std::uint64_t FreeSpace() const { return calls.freeSpace(path); }
  // The largest file its volume takes, as FileCalls::largestFile said at Open.
  std::uint64_t LargestFile() const { return largest; }

 private:
  // Write's loop: all of the bytes at the file's current position.
  FileError WriteAll(const char* next, std::size_t bytes, std::uint64_t& at);

  const FileCalls& calls;
  int descriptor = -1;
  std::filesystem::path path;
  std::uint64_t position = 0;  // bytes appended so far: the end of the file
  std::uint64_t largest = UINT64_MAX;
};

// The path as the platform's file calls take it.
std::filesystem::path FilePath(const std::wstring& path);

// Whether the path names something that exists and is neither a file nor a folder.
bool NamesDevice(const std::wstring& path);
// Removes the file if it is one (not a device); false if nothing was removed.
bool RemoveFile(const std::wstring& path);
// Moves the file to `to`, replacing a file there.
FileError ReplaceFile(const std::wstring& from, const std::wstring& to);
// Whether something (a file, a folder, a device) has that name.
bool PathExists(const std::wstring& path);
// Whether the two paths name one file that exists.
bool SameFile(const std::wstring& a, const std::wstring& b);
