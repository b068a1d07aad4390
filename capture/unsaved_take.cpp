#include "capture/unsaved_take.h"

#include <algorithm>
#include <span>
#include <vector>

#include "capture/wav_writer.h"

namespace {

constexpr std::size_t COPY_SAMPLES = std::size_t{1} << 16;

// The partial file's first `samples` samples into file; false when the
// partial file does not give them all.
bool CopyEarlierPart(WavReader& earlier, std::uint64_t samples, GrowingWavFile& file, FileError& error) {
  std::vector<std::int16_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(samples, COPY_SAMPLES)));
  for (std::uint64_t done = 0; done < samples && !error;) {
    const std::span<std::int16_t> part(buffer.data(),
                                       static_cast<std::size_t>(std::min<std::uint64_t>(samples - done, buffer.size())));
    if (!earlier.Read(part)) return false;
    error = file.Append(part);
    done += part.size();
  }
  return true;
}

FileError AppendFromMemory(GrowingWavFile& file, const SampleTake& samples, std::uint64_t from) {
  const std::uint64_t end = samples.size();
  while (from < end) {
    const auto part = samples.Samples(from, end);
    if (const FileError error = file.Append(part)) return error;
    from += part.size();
  }
  return {};
}

}  // namespace

FileError SaveTake(const std::wstring& path, UnsavedTake& take, SaveWay way, const FileCalls& calls) {
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
  if (!error && replace) error = ReplaceFile(target, path);
  if (error) {
    RemoveFile(target);
    return error;
  }
  take.savedRestOnly = !readBack && take.inFile > 0;
  return {};
}
