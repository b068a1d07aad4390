#include "capture/output_file.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>

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
// Windows takes the UTF-16 path itself: a narrow path would be read in the
// ANSI code page and miss names outside it.
std::filesystem::path FilePath(const std::wstring& path) { return std::filesystem::path(path); }
int OpenForWriting(const std::filesystem::path& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int WriteSome(int descriptor, const void* data, std::size_t bytes) {
  return _write(descriptor, data, static_cast<unsigned>(std::min<std::size_t>(bytes, 1u << 30)));
}
int Flush(int descriptor) { return _commit(descriptor); }
std::int64_t Position(int descriptor) { return _telli64(descriptor); }
int CloseDescriptor(int descriptor) { return _close(descriptor); }
#else
void ClearErrors() { errno = 0; }
FileError LastError() { return {errno != 0 ? errno : EIO, 0}; }
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
int OpenForWriting(const std::filesystem::path& path) { return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666); }
int WriteSome(int descriptor, const void* data, std::size_t bytes) {
  return static_cast<int>(write(descriptor, data, std::min<std::size_t>(bytes, 1u << 30)));
}
int Flush(int descriptor) {
  // Character devices and pipes have nothing to flush.
  return fsync(descriptor) == 0 || errno == EINVAL || errno == EROFS ? 0 : -1;
}
int CloseDescriptor(int descriptor) { return close(descriptor); }
std::int64_t Position(int descriptor) { return lseek(descriptor, 0, SEEK_CUR); }
#endif

}  // namespace

OutputFile::~OutputFile() {
  if (descriptor >= 0) CloseDescriptor(descriptor);
}

FileError OutputFile::Open(const std::wstring& path) {
  ClearErrors();
  descriptor = OpenForWriting(FilePath(path));
  return descriptor >= 0 ? FileError{} : LastError();
}

FileError OutputFile::Write(const void* data, std::size_t bytes) {
  const auto* next = static_cast<const char*>(data);
  while (bytes > 0) {
    ClearErrors();
    int written = WriteSome(descriptor, next, bytes);
    if (written < 0) {
      // A write that stored part of its bytes may still be reported as a
      // failure (Wine's runtime does so on a full disk, as EINVAL without a
      // system code): the file's position tells. The rest is tried again,
      // and a disk that takes nothing more then says why.
      const FileError error = LastError();
      const std::int64_t reached = Position(descriptor);
      if (reached <= static_cast<std::int64_t>(position)) return error;
      written = static_cast<int>(reached - static_cast<std::int64_t>(position));
    }
    // A disk that takes nothing and says nothing is full.
    if (written == 0) return {ENOSPC, 0};
    next += written;
    bytes -= static_cast<std::size_t>(written);
    position += static_cast<std::uint64_t>(written);
  }
  return {};
}

FileError OutputFile::Close() {
  ClearErrors();
  const bool flushed = Flush(descriptor) == 0;
  const FileError flushError = flushed ? FileError{} : LastError();
  ClearErrors();
  const bool closed = CloseDescriptor(descriptor) == 0;
  descriptor = -1;
  if (!flushed) return flushError;
  return closed ? FileError{} : LastError();
}

bool RemoveFile(const std::wstring& path) {
  // Only a file: a device the path names (NUL, /dev/full) stays.
  std::error_code error;
  const std::filesystem::path file = FilePath(path);
  if (!std::filesystem::is_regular_file(file, error)) return false;
  std::filesystem::remove(file, error);
  return !error;
}
