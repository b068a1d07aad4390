#include "capture/wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

WavHeader MakeWavHeader(std::int32_t sampleRate, std::int32_t channels, std::uint64_t dataBytes) {
  return MakeWavHeader(sampleRate, channels, dataBytes, dataBytes > MAX_WAV_DATA_BYTES);
}

WavHeader MakeWavHeader(std::int32_t sampleRate, std::int32_t channels, std::uint64_t dataBytes, bool rf64) {
  const auto rate = static_cast<std::uint64_t>(sampleRate);
  const auto frameBytes = 2 * static_cast<std::uint64_t>(channels);
  WavHeader header;
  header.channels = static_cast<std::uint16_t>(channels);
  header.sampleRate = static_cast<std::uint32_t>(sampleRate);
  header.byteRate = static_cast<std::uint32_t>(rate * frameBytes);
  header.blockAlign = static_cast<std::uint16_t>(frameBytes);
  header.bitsPerSample = 16;
  const std::uint64_t riffSize = dataBytes + sizeof(WavHeader) - 8;
  if (!rf64) {
    header.riffSize = static_cast<std::uint32_t>(riffSize);
    header.dataSize = static_cast<std::uint32_t>(dataBytes);
    return header;
  }
  const auto split = [](std::uint64_t value, std::uint32_t& low, std::uint32_t& high) {
    low = static_cast<std::uint32_t>(value);
    high = static_cast<std::uint32_t>(value >> 32);
  };
  header.riffId = {'R', 'F', '6', '4'};
  header.riffSize = 0xFFFFFFFF;
  header.ds64Id = {'d', 's', '6', '4'};
  split(riffSize, header.riffSizeLow, header.riffSizeHigh);
  split(dataBytes, header.dataSizeLow, header.dataSizeHigh);
  split(dataBytes / frameBytes, header.sampleCountLow, header.sampleCountHigh);
  header.dataSize = 0xFFFFFFFF;
  return header;
}

GrowingWavFile::GrowingWavFile(std::int32_t sampleRate, std::int32_t channelCount, const FileCalls& calls)
    : file(calls), rate(sampleRate), channels(channelCount) {}

FileError GrowingWavFile::Open(const std::wstring& path, bool exclusive) {
  committed = 0;
  rf64 = false;
  if (const FileError error = file.Open(path, exclusive)) return error;
  const WavHeader header = MakeWavHeader(rate, channels, 0);
  return file.Write(&header, sizeof header);
}

FileError GrowingWavFile::Append(std::span<const std::int16_t> samples) {
  const char* bytes = reinterpret_cast<const char*>(samples.data());
  std::size_t count = samples.size_bytes();
  // The largest file of whole frames that a FAT32 volume holds.
  const std::uint64_t frameBytes = 2u * static_cast<std::uint64_t>(channels);
  const std::uint64_t smallEnd =
      (SMALL_VOLUME_FILE_BYTES - sizeof(WavHeader)) / frameBytes * frameBytes + sizeof(WavHeader);
  const std::uint64_t at = file.Size();
  if (at < smallEnd && at + count > smallEnd) {
    const auto first = static_cast<std::size_t>(smallEnd - at);
    if (const FileError error = file.Write(bytes, first)) return error;
    bytes += first;
    count -= first;
  }
  const std::uint64_t before = file.Size();
  const FileError error = file.Write(bytes, count);
  // Refused at that very size with room to spare: the volume holds no larger file.
  if (error && before == smallEnd && file.Size() <= SMALL_VOLUME_FILE_BYTES && file.FreeSpace() > count) {
    return {EFBIG, error.systemCode};
  }
  return error;
}

GrowingWavFile::Room GrowingWavFile::RoomLeft() const {
  const std::uint64_t free = file.FreeSpace();
  const std::uint64_t largest = file.LargestFile();
  if (largest == UINT64_MAX) return {free, false};  // no limit
  const std::uint64_t toLargest = largest > file.Size() ? largest - file.Size() : 0;
  return toLargest < free ? Room{toLargest, true} : Room{free, false};
}

FileError GrowingWavFile::Rewrite(const WavHeader& header, std::size_t from, std::size_t to) {
  const auto* bytes = reinterpret_cast<const char*>(&header);
  if (const FileError error = file.Overwrite(from, bytes + from, to - from)) return error;
  return file.Flush();
}

FileError GrowingWavFile::Commit() {
  if (const FileError error = file.Flush()) return error;
  const std::uint64_t frameBytes = 2u * static_cast<std::uint64_t>(channels);
  const std::uint64_t covered = DataBytes() / frameBytes * frameBytes;
  if (!rf64 && covered > MAX_WAV_DATA_BYTES) {
    // Into RF64 in place, still covering what the disk's header covers,
    // one field at a time, each on the disk before the next and each state
    // a file that opens: the ds64 fields under the JUNK chunk's name (a
    // plain WAV file), the ds64 name (a WAV file with a chunk it skips),
    // RF64 and its RIFF size (an RF64 file whose data chunk gives its size
    // itself), and the data size that sends readers to ds64.
    const WavHeader switched = MakeWavHeader(rate, channels, committed, true);
    constexpr std::pair<std::size_t, std::size_t> STEPS[] = {{20, 48}, {12, 16}, {0, 8}, {76, 80}};
    for (const auto& [from, to] : STEPS) {
      if (const FileError error = Rewrite(switched, from, to)) return error;
    }
    rf64 = true;
  }
  if (const FileError error = Rewrite(MakeWavHeader(rate, channels, covered, rf64), 0, sizeof(WavHeader))) {
    return error;
  }
  committed = covered;
  return {};
}

FileError GrowingWavFile::Close() {
  const FileError error = Commit();
  const FileError closeError = file.Close();
  return error ? error : closeError;
}

bool WavReader::Open(const std::wstring& path, std::int32_t rate, std::int32_t channels) {
  dataBytes = 0;
  in = std::ifstream(FilePath(path), std::ios::binary);
  WavHeader header;
  if (!in.read(reinterpret_cast<char*>(&header), sizeof header)) return false;
  const auto is = [](const std::array<char, 4>& id, const char* text) { return std::memcmp(id.data(), text, 4) == 0; };
  const WavHeader expected = MakeWavHeader(rate, channels, 0);
  const bool isRf64 = is(header.riffId, "RF64") && is(header.ds64Id, "ds64");
  if (!(is(header.riffId, "RIFF") || isRf64) || !is(header.waveId, "WAVE") || !is(header.fmtId, "fmt ") ||
      !is(header.dataId, "data") || header.fmtSize != 16 || header.audioFormat != 1 ||
      header.channels != expected.channels || header.sampleRate != expected.sampleRate ||
      header.bitsPerSample != 16) {
    return false;
  }
  std::uint64_t covered = header.dataSize;
  if (isRf64 && header.dataSize == 0xFFFFFFFF) {
    covered = std::uint64_t{header.dataSizeHigh} << 32 | header.dataSizeLow;
  }
  in.seekg(0, std::ios::end);
  const auto end = static_cast<std::uint64_t>(in.tellg());
  in.seekg(sizeof header);
  if (!in) return false;
  const std::uint64_t frameBytes = 2u * static_cast<std::uint64_t>(channels);
  dataBytes = std::min(covered, end - sizeof header) / frameBytes * frameBytes;
  return true;
}

bool WavReader::Read(std::span<std::int16_t> samples) {
  return static_cast<bool>(in.read(reinterpret_cast<char*>(samples.data()),
                                   static_cast<std::streamsize>(samples.size_bytes())));
}
