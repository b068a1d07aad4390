#include "capture/wav_writer.h"

void WriteWavHeader(std::ostream& stream, std::int32_t sampleRate, std::int32_t bitsPerSample,
                    std::int32_t channels, std::uint32_t dataBytes) {
  WavHeader header;
  header.riffSize = dataBytes + 36;
  header.channels = static_cast<std::uint16_t>(channels);
  header.sampleRate = static_cast<std::uint32_t>(sampleRate);
  header.byteRate = static_cast<std::uint32_t>(sampleRate * channels * bitsPerSample / 8);
  header.blockAlign = static_cast<std::uint16_t>(channels * bitsPerSample / 8);
  header.bitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
  header.dataSize = dataBytes;
  stream.write(reinterpret_cast<const char*>(&header), sizeof header);
}

bool FinishTake(std::ofstream& file, const SampleTake& take, std::int32_t sampleRate,
                std::int32_t channels) {
  const auto dataBytes = static_cast<std::uint32_t>(take.size() * sizeof(std::int16_t));
  WriteWavHeader(file, sampleRate, 16, channels, dataBytes);
  for (std::size_t i = 0; i < take.BlockCount() && file.good(); ++i) {
    const auto block = take.Block(i);
    file.write(reinterpret_cast<const char*>(block.data()),
               static_cast<std::streamsize>(block.size_bytes()));
  }
  const bool written = file.good();
  file.close();  // flushes; a full disk often shows only here
  return written && !file.fail();
}
