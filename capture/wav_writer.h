#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>

#include "capture/output_file.h"

static_assert(std::endian::native == std::endian::little,
              "WavHeader is written byte for byte and must be little-endian");

// The 80-byte header of a 16-bit integer-PCM WAV file, laid out as it is
// written: no gaps, little-endian fields. Up to 4 GB it is an ordinary WAV
// file whose first chunk is a JUNK chunk that players skip; past that the
// same bytes become an RF64 file (RF64, ds64 in the JUNK chunk's place, the
// 32-bit sizes 0xFFFFFFFF), without moving a sample.
struct WavHeader {
  std::array<char, 4> riffId{'R', 'I', 'F', 'F'};  // "RF64" past 4 GB
  std::uint32_t riffSize = 0;                       // 0xFFFFFFFF past 4 GB
  std::array<char, 4> waveId{'W', 'A', 'V', 'E'};
  std::array<char, 4> ds64Id{'J', 'U', 'N', 'K'};   // "ds64" past 4 GB
  std::uint32_t ds64Size = 28;
  // The ds64 chunk's fields; zeros while it is a JUNK chunk.
  std::uint32_t riffSizeLow = 0, riffSizeHigh = 0;
  std::uint32_t dataSizeLow = 0, dataSizeHigh = 0;
  std::uint32_t sampleCountLow = 0, sampleCountHigh = 0;  // frames
  std::uint32_t tableLength = 0;
  std::array<char, 4> fmtId{'f', 'm', 't', ' '};
  std::uint32_t fmtSize = 16;
  std::uint16_t audioFormat = 1;
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t byteRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  std::array<char, 4> dataId{'d', 'a', 't', 'a'};
  std::uint32_t dataSize = 0;  // 0xFFFFFFFF past 4 GB
};
static_assert(sizeof(WavHeader) == 80);

// The largest data chunk a 32-bit RIFF size can describe (the RIFF size
// counts the rest of the header too); a larger one makes the file RF64.
constexpr std::uint64_t MAX_WAV_DATA_BYTES = 0xFFFFFFFFull - (sizeof(WavHeader) - 8);
// The largest file some volumes hold (FAT32): the file is never asked to
// grow past it in one write, so that a volume that refuses to is told from
// a full one.
constexpr std::uint64_t SMALL_VOLUME_FILE_BYTES = 0xFFFFFFFFull;

// The header's fields for a take of dataBytes: a WAV file's, or an RF64
// file's when the data is too large for one. The byte rate is computed in
// 64 bits; the capture format check refuses rates whose byte rate 32 bits
// cannot hold.
WavHeader MakeWavHeader(std::int32_t sampleRate, std::int32_t channels, std::uint64_t dataBytes);
// The same in the form asked for, RF64 or WAV (dataBytes at most MAX_WAV_DATA_BYTES).
WavHeader MakeWavHeader(std::int32_t sampleRate, std::int32_t channels, std::uint64_t dataBytes, bool rf64);

// A WAV file that is a valid one at every moment while it grows: its
// header's sizes cover the samples it held at the latest Commit, and what
// was appended since follows them. A crash, or a power cut once a Commit has
// reached the disk, leaves a file that every player reads, without repair.
// Past 4 GB it becomes an RF64 file in place, valid at every step of the change.
class GrowingWavFile {
 public:
  GrowingWavFile(std::int32_t rate, std::int32_t channels, const FileCalls& calls = SystemFileCalls());

  // Creates the file, or empties one that exists (unless exclusive: then a
  // file that exists fails with EEXIST), and writes the header of an empty take.
  FileError Open(const std::wstring& path, bool exclusive = false);
  bool IsOpen() const { return file.IsOpen(); }
  // A write that would carry the file past 4 GB - 1 byte stops there first
  // at a whole frame; a volume that refuses the rest (FAT32), with room
  // left, fails with EFBIG.
  FileError Append(std::span<const std::int16_t> samples);
  // The samples to the disk first, then the header's sizes that cover them,
  // then those: whichever step a power cut interrupts, the header on the
  // disk describes samples that are there. Covers whole frames only.
  FileError Commit();
  // Commits and closes. After a failure the file still gets the header that
  // covers what it took, as far as the disk allows.
  FileError Close();
  // Sample bytes covered by the latest header known to be on the disk.
  std::uint64_t CommittedBytes() const { return committed; }
  // Sample bytes the file holds (those appended before a failure included).
  std::uint64_t DataBytes() const { return file.Size() < sizeof(WavHeader) ? 0 : file.Size() - sizeof(WavHeader); }
  std::uint64_t ByteRate() const { return 2u * static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(rate); }
  // Bytes the file may still grow by: its volume's free space, or less
  // where the volume holds no larger file (FAT32), which sizeLimit then says.
  struct Room {
    std::uint64_t bytes;
    bool sizeLimit;
  };
  Room RoomLeft() const;

 private:
  // Writes part of the header in place and hands it to the disk.
  FileError Rewrite(const WavHeader& header, std::size_t from, std::size_t to);

  OutputFile file;
  std::int32_t rate;
  std::int32_t channels;
  std::uint64_t committed = 0;
  bool rf64 = false;  // the header on the disk is an RF64 one
};

// A WAV file that GrowingWavFile wrote, read back from its first sample.
class WavReader {
 public:
  // False when the file cannot be read, or is not a 16-bit WAV or RF64
  // file with this rate and channel count whose samples follow its header.
  bool Open(const std::wstring& path, std::int32_t rate, std::int32_t channels);
  // Sample bytes its header covers that the file holds, in whole frames.
  std::uint64_t DataBytes() const { return dataBytes; }
  // The next samples; false when the file does not give them all.
  bool Read(std::span<std::int16_t> samples);
  // Windows replaces no file that is open.
  void Close() { in.close(); }

 private:
  std::ifstream in;
  std::uint64_t dataBytes = 0;
};
