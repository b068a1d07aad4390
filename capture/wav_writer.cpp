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

FileError FinishTake(OutputFile& file, const SampleTake& take, std::int32_t sampleRate, std::int32_t channels) {
  const auto dataBytes = static_cast<std::uint32_t>(take.size() * sizeof(std::int16_t));
  const WavHeader header = MakeWavHeader(sampleRate, 16, channels, dataBytes);
  FileError error = file.Write(&header, sizeof header);
  for (std::size_t i = 0; i < take.BlockCount() && !error; ++i) {
    const auto block = take.Block(i);
    error = file.Write(block.data(), block.size_bytes());
  }
  const FileError closeError = file.Close();
  return error ? error : closeError;
}

FileError WriteTakeFile(const std::wstring& path, const SampleTake& take, std::int32_t sampleRate,
                        std::int32_t channels) {
  OutputFile file;
  if (const FileError error = file.Open(path)) return error;  // nothing there is ours to remove
  const FileError error = FinishTake(file, take, sampleRate, channels);
  if (error) RemoveFile(path);
  return error;
}
