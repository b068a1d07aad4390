#include "capture/wav_writer.h"

WavHeader MakeWavHeader(std::int32_t sampleRate, std::int32_t bitsPerSample, std::int32_t channels,
                        std::uint32_t dataBytes) {
  const auto rate = static_cast<std::uint64_t>(sampleRate);
  const auto frameBits = static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(bitsPerSample);
  WavHeader header;
  header.riffSize = dataBytes + 36;
  header.channels = static_cast<std::uint16_t>(channels);
  header.sampleRate = static_cast<std::uint32_t>(sampleRate);
  header.byteRate = static_cast<std::uint32_t>(rate * frameBits / 8);
  header.blockAlign = static_cast<std::uint16_t>(frameBits / 8);
  header.bitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
  header.dataSize = dataBytes;
  return header;
}

void WriteWavHeader(std::ostream& stream, std::int32_t sampleRate, std::int32_t bitsPerSample,
                    std::int32_t channels, std::uint32_t dataBytes) {
  const WavHeader header = MakeWavHeader(sampleRate, bitsPerSample, channels, dataBytes);
  stream.write(reinterpret_cast<const char*>(&header), sizeof header);
}

GrowingWavFile::GrowingWavFile(std::int32_t sampleRate, std::int32_t channelCount, const FileCalls& calls)
    : file(calls), rate(sampleRate), channels(channelCount) {}

FileError GrowingWavFile::Open(const std::wstring& path) {
  if (const FileError error = file.Open(path)) return error;
  const WavHeader header = MakeWavHeader(rate, 16, channels, 0);
  return file.Write(&header, sizeof header);
}

FileError GrowingWavFile::Append(std::span<const std::int16_t> samples) {
  return file.Write(samples.data(), samples.size_bytes());
}

FileError GrowingWavFile::Commit() {
  if (const FileError error = file.Flush()) return error;
  const std::uint64_t frameBytes = 2u * static_cast<std::uint64_t>(channels);
  const auto covered = static_cast<std::uint32_t>(DataBytes() / frameBytes * frameBytes);
  const WavHeader header = MakeWavHeader(rate, 16, channels, covered);
  if (const FileError error = file.Overwrite(&header, sizeof header)) return error;
  return file.Flush();
}

FileError GrowingWavFile::Close() {
  const FileError error = Commit();
  const FileError closeError = file.Close();
  return error ? error : closeError;
}

FileError WriteTakeFile(const std::wstring& path, const SampleTake& take, std::int32_t sampleRate,
                        std::int32_t channels, const FileCalls& calls) {
  // A device the path names (NUL, /dev/full) is written to itself.
  const bool replace = !NamesDevice(path);
  const std::wstring target = replace ? path + L".part" : path;
  FileError error;
  {
    GrowingWavFile file(sampleRate, channels, calls);
    error = file.Open(target);
    if (!file.IsOpen()) return error;  // nothing there is ours to remove
    for (std::size_t i = 0; i < take.BlockCount() && !error; ++i) error = file.Append(take.Block(i));
    const FileError closeError = file.Close();
    if (!error) error = closeError;
  }
  if (!error && replace) error = ReplaceFile(target, path);
  if (error) RemoveFile(target);
  return error;
}
