#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <ostream>
#include <string>

#include "capture/output_file.h"
#include "capture/sample_take.h"

static_assert(std::endian::native == std::endian::little,
              "WavHeader is written byte for byte and must be little-endian");

// The 44-byte header of a 16-bit integer-PCM WAV file, laid out as it is
// written: no gaps, little-endian fields.
struct WavHeader {
  std::array<char, 4> riffId{'R', 'I', 'F', 'F'};
  std::uint32_t riffSize = 0;
  std::array<char, 4> waveId{'W', 'A', 'V', 'E'};
  std::array<char, 4> fmtId{'f', 'm', 't', ' '};
  std::uint32_t fmtSize = 16;
  std::uint16_t audioFormat = 1;
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t byteRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  std::array<char, 4> dataId{'d', 'a', 't', 'a'};
  std::uint32_t dataSize = 0;
};
static_assert(sizeof(WavHeader) == 44);

// The largest data chunk a 32-bit RIFF size can describe: RIFF size is
// data size + 36.
constexpr std::uint64_t MAX_WAV_DATA_BYTES = 0xFFFFFFFFull - 36;

// The header's fields for a take; the byte rate is computed in 64 bits, and
// the capture format check refuses rates whose byte rate 32 bits cannot hold.
WavHeader MakeWavHeader(std::int32_t sampleRate, std::int32_t bitsPerSample, std::int32_t channels,
                        std::uint32_t dataBytes);
void WriteWavHeader(std::ostream& stream, std::int32_t sampleRate, std::int32_t bitsPerSample,
                    std::int32_t channels, std::uint32_t dataBytes);

// Writes the header and the whole take into the open file, then flushes and
// closes it. The take must fit MAX_WAV_DATA_BYTES.
FileError FinishTake(OutputFile& file, const SampleTake& take, std::int32_t sampleRate, std::int32_t channels);

// The same into a new file at path, replacing one that exists. A file that
// could not be written whole is removed: the path holds the whole take or
// nothing, never a WAV file whose header promises more than it has.
FileError WriteTakeFile(const std::wstring& path, const SampleTake& take, std::int32_t sampleRate,
                        std::int32_t channels);
