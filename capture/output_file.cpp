#include "capture/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// The runtime keeps the system's error code of a failed call in _doserrno
// (zero when the failure was its own, like a short write on a full disk).
void ClearErrors() {
  errno = 0;
  _doserrno = 0;
}
FileError LastError() {
  return {errno != 0 ? errno : EIO, static_cast<std::uint32_t>(_doserrno)};
}
int OpenForWriting(const std::filesystem::path& path, bool exclusive) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | (exclusive ? _O_EXCL : _O_TRUNC) | _O_BINARY,
                _S_IREAD | _S_IWRITE);
}
int WriteSome(int descriptor, const void* data, std::size_t bytes) {
  return _write(descriptor, data, static_cast<unsigned>(std::min<std::size_t>(bytes, 1u << 30)));
}
int Flush(int descriptor) { return _commit(descriptor); }
std::int64_t Seek(int descriptor, std::int64_t offset, int origin) { return _lseeki64(descriptor, offset, origin); }
int CloseDescriptor(int descriptor) { return _close(descriptor); }
#else
void ClearErrors() { errno = 0; }
FileError LastError() { return {errno != 0 ? errno : EIO, 0}; }
int OpenForWriting(const std::filesystem::path& path, bool exclusive) {
  return open(path.c_str(), O_WRONLY | O_CREAT | (exclusive ? O_EXCL : O_TRUNC), 0666);
}
int WriteSome(int descriptor, const void* data, std::size_t bytes) {
  return static_cast<int>(write(descriptor, data, std::min<std::size_t>(bytes, 1u << 30)));
}
int Flush(int descriptor) {
  // Character devices and pipes have nothing to flush.
  return fsync(descriptor) == 0 || errno == EINVAL || errno == EROFS ? 0 : -1;
}
std::int64_t Seek(int descriptor, std::int64_t offset, int origin) { return lseek(descriptor, offset, origin); }
int CloseDescriptor(int descriptor) { return close(descriptor); }
#endif

std::uint64_t FreeSpace(const std::filesystem::path& file) {
  // Asked of the folder, with a separator after it: Windows answers for
  // folders only, and mingw's runtime asks of the folder above a path that
  // does not end in one (a different volume, where a disk is mounted there).
  std::error_code error;
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  const auto space = std::filesystem::space(folder / "", error);
  return error ? UINT64_MAX : space.available;
}

constexpr FileCalls SYSTEM_CALLS{OpenForWriting, WriteSome, Flush, Seek, CloseDescriptor, FreeSpace,
                                  LargestFileOnVolume};

}  // namespace

const FileCalls& SystemFileCalls() { return SYSTEM_CALLS; }

#ifdef _WIN32
// Windows takes the UTF-16 path itself: a narrow path would be read in the
// ANSI code page and miss names outside it.
std::filesystem::path FilePath(const std::wstring& path) { return std::filesystem::path(path); }
#else
// Elsewhere names are UTF-8 bytes, whatever the locale.
std::filesystem::path FilePath(const std::wstring& path) {
  std::u8string utf8;
  auto put = [&](std::uint32_t byte) { utf8.push_back(static_cast<char8_t>(byte)); };
  for (wchar_t ch : path) {
    const auto c = static_cast<std::uint32_t>(ch);
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return std::filesystem::path(utf8);
}
#endif

OutputFile::~OutputFile() {
  if (descriptor >= 0) calls.close(descriptor);
}

FileError OutputFile::Open(const std::wstring& name, bool exclusive) {
  try {
    path = FilePath(name);
    ClearErrors();
    descriptor = calls.open(path, exclusive);
  } catch (const std::bad_alloc&) {
    return {ENOMEM, 0};
  }
  position = 0;
  if (descriptor < 0) return LastError();
  largest = calls.largestFile != nullptr ? calls.largestFile(descriptor) : UINT64_MAX;
  return {};
}

FileError OutputFile::WriteAll(const char* next, std::size_t bytes, std::uint64_t& at) {
  while (bytes > 0) {
    ClearErrors();
    int written = calls.write(descriptor, next, bytes);
    if (written < 0) {
      // A write that stored part of its bytes may still be reported as a
      // failure (Wine's runtime does so on a full disk, as EINVAL without a
      // system code): the file's position tells. The rest is tried again,
      // and a disk that takes nothing more then says why.
      const FileError error = LastError();
      const std::int64_t reached = calls.seek(descriptor, 0, SEEK_CUR);
      if (reached <= static_cast<std::int64_t>(at)) return error;
      written = static_cast<int>(reached - static_cast<std::int64_t>(at));
    }
    // A disk that takes nothing and says nothing is full.
    if (written == 0) return {ENOSPC, 0};
    next += written;
    bytes -= static_cast<std::size_t>(written);
    at += static_cast<std::uint64_t>(written);
  }
  return {};
}

FileError OutputFile::Write(const void* data, std::size_t bytes) {
  return WriteAll(static_cast<const char*>(data), bytes, position);
}

FileError OutputFile::Overwrite(std::uint64_t offset, const void* data, std::size_t bytes) {
  ClearErrors();
  const auto start = static_cast<std::int64_t>(offset);
  if (calls.seek(descriptor, start, SEEK_SET) != start) return LastError();
  std::uint64_t at = offset;
  const FileError error = WriteAll(static_cast<const char*>(data), bytes, at);
  // Back to the end, failed or not: the next append must not land here.
  ClearErrors();
  const bool back = calls.seek(descriptor, static_cast<std::int64_t>(position), SEEK_SET) ==
                    static_cast<std::int64_t>(position);
  if (error) return error;
  return back ? FileError{} : LastError();
}

FileError OutputFile::Flush() {
  ClearErrors();
  return calls.flush(descriptor) == 0 ? FileError{} : LastError();
}

FileError OutputFile::Close() {
  if (descriptor < 0) return {};
  const FileError flushError = Flush();
  ClearErrors();
  const bool closed = calls.close(descriptor) == 0;
  descriptor = -1;
  if (flushError) return flushError;
  return closed ? FileError{} : LastError();
}

bool NamesDevice(const std::wstring& path) {
  try {
    std::error_code error;
    const auto status = std::filesystem::status(FilePath(path), error);
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool RemoveFile(const std::wstring& path) {
  // Only a file: a device the path names (NUL, /dev/full) stays.
  try {
    std::error_code error;
    const std::filesystem::path file = FilePath(path);
    if (!std::filesystem::is_regular_file(file, error)) return false;
    std::filesystem::remove(file, error);
    return !error;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

FileError ReplaceFile(const std::wstring& from, const std::wstring& to) {
  try {
    std::error_code error;
    std::filesystem::rename(FilePath(from), FilePath(to), error);
    return error ? FileError{error.value() != 0 ? error.value() : EIO, 0} : FileError{};
  } catch (const std::bad_alloc&) {
    return {ENOMEM, 0};
  }
}

bool PathExists(const std::wstring& path) {
  try {
    std::error_code error;
    return std::filesystem::exists(FilePath(path), error);
  } catch (const std::bad_alloc&) {
    return true;  // taken, as far as anyone can tell
  }
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
  try {
    std::error_code error;
    return std::filesystem::equivalent(FilePath(a), FilePath(b), error) && !error;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
