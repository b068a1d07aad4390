#include "capture/unsaved_take.h"

#include <algorithm>
#include <span>
#include <vector>

#include "capture/wav_writer.h"

namespace {

constexpr std::size_t COPY_SAMPLES = std::size_t{1} << 16;

// Appends to the file being saved, and commits once it holds
// SAVE_COMMIT_BYTES more than its header covers.
FileError AppendToSave(GrowingWavFile& file, std::span<const std::int16_t> samples) {
  if (const FileError error = file.Append(samples)) return error;
  return file.DataBytes() - file.CommittedBytes() >= SAVE_COMMIT_BYTES ? file.Commit() : FileError{};
}

// The partial file's first `samples` samples into file; false when the
// partial file does not give them all.
bool CopyEarlierPart(WavReader& earlier, std::uint64_t samples, GrowingWavFile& file, FileError& error) {
  std::vector<std::int16_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(samples, COPY_SAMPLES)));
  for (std::uint64_t done = 0; done < samples && !error;) {
    const std::span<std::int16_t> part(buffer.data(),
                                       static_cast<std::size_t>(std::min<std::uint64_t>(samples - done, buffer.size())));
    if (!earlier.Read(part)) return false;
    error = AppendToSave(file, part);
    done += part.size();
  }
  return true;
}

FileError AppendFromMemory(GrowingWavFile& file, const SampleTake& samples, std::uint64_t from) {
  const std::uint64_t end = samples.size();
  while (from < end) {
    const auto part = samples.Samples(from, end);
    if (const FileError error = AppendToSave(file, part)) return error;
    from += part.size();
  }
  return {};
}

// A name beside path that no file has, for the rest of a take whose
// beginning path holds: "take (rest).wav", then "take (rest 2).wav".
std::wstring RestFileName(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::size_t dot = path.rfind(L'.');
  const bool extension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash + 1);
  const std::wstring stem = extension ? path.substr(0, dot) : path;
  const std::wstring suffix = extension ? path.substr(dot) : L"";
  std::wstring name;
  for (int n = 1;; ++n) {
    name = stem + L" (rest" + (n == 1 ? L"" : L" " + std::to_wstring(n)) + L")" + suffix;
    if (!PathExists(name) || n == 1000) return name;
  }
}

}  // namespace

FileError SaveTake(const std::wstring& path, UnsavedTake& take, SaveWay way, const FileCalls& calls,
                   const std::function<void(const std::wstring&)>& created) {
  const bool rescuing = way == SaveWay::Rescuing;
  // A device the path names (NUL, /dev/full) is written to itself.
  const bool replace = !rescuing && !NamesDevice(path);
  const std::wstring target = replace ? path + L".part" : path;

  // Memory is read from where the partial file's header ends, if it gives
  // back that much and memory still holds what follows.
  std::uint64_t fromMemory = take.inFile;
  WavReader earlier;
  bool readBack = false;
  if (!rescuing && take.inFile > 0 && earlier.Open(take.partialFile, take.sampleRate, take.channels)) {
    const std::uint64_t held = earlier.DataBytes() / 2;
    readBack = held >= take.samples.Start() && held <= take.samples.size();
    if (readBack) fromMemory = held;
  }

  FileError error;
  {
    GrowingWavFile file(take.sampleRate, take.channels, calls);
    error = file.Open(target, rescuing);
    if (!file.IsOpen()) return error;  // nothing there is ours to remove
    if (!error && created) created(target);
    if (readBack && !error && !CopyEarlierPart(earlier, fromMemory, file, error)) {
      // The partial file failed part-way: begin again with what memory holds.
      readBack = false;
      fromMemory = take.inFile;
      file.Close();
      error = file.Open(target);
    }
    earlier.Close();
    if (!error) error = AppendFromMemory(file, take.samples, fromMemory);
    const FileError closeError = file.Close();
    if (!error) error = closeError;
  }
  const bool restOnly = !readBack && take.inFile > 0;
  // The rest alone never takes the place of the file that keeps the beginning.
  const bool overBeginning = restOnly && replace && (path == take.partialFile || SameFile(path, take.partialFile));
  const std::wstring saved = overBeginning ? RestFileName(path) : path;
  if (!error && replace) error = ReplaceFile(target, saved);
  if (error) {
    RemoveFile(target);
    return error;
  }
  take.savedRestOnly = restOnly;
  take.savedTo = saved;
  return {};
}
