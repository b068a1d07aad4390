#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <ostream>
#include <span>
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

// A WAV file that is a valid one at every moment while it grows: its
// header's sizes cover the samples it held at the latest Commit, and what
// was appended since follows them. A crash, or a power cut once a Commit has
// reached the disk, leaves a file that every player reads, without repair.
class GrowingWavFile {
 public:
  GrowingWavFile(std::int32_t rate, std::int32_t channels, const FileCalls& calls = SystemFileCalls());

  // Creates the file, or empties one that exists, and writes the header of
  // an empty take.
  FileError Open(const std::wstring& path);
  bool IsOpen() const { return file.IsOpen(); }
  FileError Append(std::span<const std::int16_t> samples);
  // The samples to the disk first, then the header's sizes that cover them,
  // then those: whichever step a power cut interrupts, the header on the
  // disk describes samples that are there. Covers whole frames only.
  FileError Commit();
  // Commits and closes. After a failure the file still gets the header that
  // covers what it took, as far as the disk allows.
  FileError Close();

 private:
  // Sample bytes the file holds (those appended before a failure included).
  std::uint64_t DataBytes() const { return file.Size() < sizeof(WavHeader) ? 0 : file.Size() - sizeof(WavHeader); }

  OutputFile file;
  std::int32_t rate;
  std::int32_t channels;
};

// Writes the whole take as a WAV file at path, through a file beside it
// that replaces whatever path named once it is complete: the path holds the
// whole take, or what it held before, never a part.
FileError WriteTakeFile(const std::wstring& path, const SampleTake& take, std::int32_t sampleRate,
                        std::int32_t channels, const FileCalls& calls = SystemFileCalls());
