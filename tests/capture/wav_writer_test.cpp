#include "capture/wav_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_platform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void AppendText(Bytes& out, const char* text) { out.insert(out.end(), text, text + 4); }

void AppendLe(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The header spelled out field by field, independently of WavHeader: a WAV
// file's with a JUNK chunk that holds the place of ds64, or an RF64 file's.
Bytes ExpectedHeader(std::uint32_t rate, std::uint16_t channels, std::uint64_t dataBytes, bool rf64 = false) {
  Bytes h;
  AppendText(h, rf64 ? "RF64" : "RIFF");
  AppendLe(h, rf64 ? 0xFFFFFFFF : dataBytes + 72, 4);
  AppendText(h, "WAVE");
  AppendText(h, rf64 ? "ds64" : "JUNK");
  AppendLe(h, 28, 4);
  AppendLe(h, rf64 ? dataBytes + 72 : 0, 8);
  AppendLe(h, rf64 ? dataBytes : 0, 8);
  AppendLe(h, rf64 ? dataBytes / (2u * channels) : 0, 8);
  AppendLe(h, 0, 4);
  AppendText(h, "fmt ");
  AppendLe(h, 16, 4);
  AppendLe(h, 1, 2);
  AppendLe(h, channels, 2);
  AppendLe(h, rate, 4);
  AppendLe(h, rate * channels * 2u, 4);
  AppendLe(h, channels * 2u, 2);
  AppendLe(h, 16, 2);
  AppendText(h, "data");
  AppendLe(h, rf64 ? 0xFFFFFFFF : dataBytes, 4);
  return h;
}

Bytes HeaderBytes(std::int32_t rate, std::int32_t channels, std::uint64_t data) {
  const WavHeader header = MakeWavHeader(rate, channels, data);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
  return {bytes, bytes + sizeof header};
}

// A volume that keeps only the first 80 bytes of its one file, and its
// size, so that a file past 4 GB is written in moments. The header is
// logged after every write, as a crash right after it would leave it.
struct HeaderOnlyDisk {
  Bytes header = Bytes(80);
  std::uint64_t size = 0, position = 0;
  std::uint64_t largestFile = UINT64_MAX;  // a write beyond stores what fits, then fails with ENOSPC
  std::uint64_t free = UINT64_MAX;
  std::vector<std::pair<Bytes, std::uint64_t>> afterEachWrite;  // header and file size
} disk;

int DiskOpen(const std::filesystem::path&, bool) {
  disk.size = disk.position = 0;
  return 7;
}
int DiskWrite(int, const void* data, std::size_t bytes) {
  const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, disk.largestFile - std::min(disk.largestFile, disk.position)));
  if (n == 0) {
    errno = ENOSPC;
    return -1;
  }
  for (std::size_t i = 0; i < n && disk.position + i < 80; ++i) {
    disk.header[disk.position + i] = static_cast<const std::uint8_t*>(data)[i];
  }
  disk.position += n;
  disk.size = std::max(disk.size, disk.position);
  if (disk.position - n < 80) disk.afterEachWrite.emplace_back(disk.header, disk.size);
  return static_cast<int>(n);
}
std::int64_t DiskSeek(int, std::int64_t offset, int origin) {
  if (origin == SEEK_SET) disk.position = static_cast<std::uint64_t>(offset);
  return static_cast<std::int64_t>(origin == SEEK_END ? disk.size : disk.position);
}
int DiskDone(int) { return 0; }
std::uint64_t DiskFree(const std::filesystem::path&) { return disk.free; }
const FileCalls HEADER_ONLY_DISK{DiskOpen, DiskWrite, DiskDone, DiskSeek, DiskDone, DiskFree};

std::uint64_t Le(const Bytes& h, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | h[at + static_cast<std::size_t>(i)];
  return value;
}

// The sample bytes a player finds in the file, reading it as a WAV or RF64
// file whose sizes agree with one another and with the file; -1 when it
// would not open.
std::int64_t PlayableBytes(const Bytes& h, std::uint64_t fileSize) {
  const auto id = [&](std::size_t at) { return std::string(h.begin() + static_cast<std::ptrdiff_t>(at), h.begin() + static_cast<std::ptrdiff_t>(at) + 4); };
  if (id(8) != "WAVE" || (id(12) != "JUNK" && id(12) != "ds64") || Le(h, 16, 4) != 28 || id(48) != "fmt " ||
      id(72) != "data") {
    return -1;
  }
  std::uint64_t riff = Le(h, 4, 4), data = Le(h, 76, 4);
  if (id(0) == "RF64") {
    if (id(12) != "ds64" || Le(h, 36, 8) * Le(h, 68, 2) != Le(h, 28, 8)) return -1;
    if (riff == 0xFFFFFFFF) riff = Le(h, 20, 8);
    if (data == 0xFFFFFFFF) data = Le(h, 28, 8);
  } else if (id(0) != "RIFF") {
    return -1;
  }
  if (riff != data + 72 || data + 80 > fileSize || data % Le(h, 68, 2) != 0) return -1;
  return static_cast<std::int64_t>(data);
}

}  // namespace

TEST(WavHeaderBytes, MatchTheFormatForMonoStereoEmptyAndRf64Takes) {
  const struct {
    std::int32_t rate, channels;
    std::uint64_t data;
    bool rf64;
  } cases[] = {{48000, 2, 192000, false}, {44100, 1, 88200, false}, {44100, 1, 0, false},
               // The highest stereo rate the capture format check lets through.
               {1073741823, 2, 0, false},
               {48000, 2, MAX_WAV_DATA_BYTES, false},
               {48000, 2, MAX_WAV_DATA_BYTES + 4, true},
               {192000, 2, 66ull << 30, true}};
  int ran = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(HeaderBytes(c.rate, c.channels, c.data),
              ExpectedHeader(static_cast<std::uint32_t>(c.rate), static_cast<std::uint16_t>(c.channels), c.data, c.rf64))
        << "case " << ran;
    ++ran;
  }
  EXPECT_EQ(ran, 7);
  // The worked values, read straight from the bytes.
  const auto stereo = HeaderBytes(48000, 2, 192000);
  EXPECT_EQ(Bytes(stereo.begin() + 64, stereo.begin() + 72), (Bytes{0x00, 0xEE, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00}));
  EXPECT_EQ(Bytes(stereo.begin() + 4, stereo.begin() + 8), (Bytes{0x48, 0xEE, 0x02, 0x00}));  // 192072
  EXPECT_EQ(MAX_WAV_DATA_BYTES + 72, 0xFFFFFFFFull);
}

// A take grows past 4 GB: the file is a WAV file until its header would
// need more than 32 bits, then becomes an RF64 file in place. After every
// single write, the switch's included, the file opens and holds what its
// header covers; the header's bytes are exact before, across and after.
TEST(GrowingWavFileOnADisk, BecomesRf64PastFourGigabytesValidAfterEveryWrite) {
  disk = {};
  GrowingWavFile file(48000, 2, HEADER_ONLY_DISK);
  ASSERT_FALSE(file.Open(L"take.wav"));
  const std::vector<std::int16_t> chunk(std::size_t{8} << 20);  // 16 MiB
  const std::uint64_t chunkBytes = chunk.size() * 2;
  std::uint64_t data = 0;
  bool sawSwitch = false;
  while (data < (std::uint64_t{9} << 29)) {  // 4.5 GiB
    ASSERT_FALSE(file.Append(chunk));
    data += chunkBytes;
    // A commit just short of 4 GB, then the one past it.
    if (data + chunkBytes <= MAX_WAV_DATA_BYTES && data + 2 * chunkBytes > MAX_WAV_DATA_BYTES) {
      ASSERT_FALSE(file.Append(std::vector<std::int16_t>(2)));  // not a whole frame: not covered
      data += 4;
    }
    disk.afterEachWrite.clear();
    ASSERT_FALSE(file.Commit());
    const bool rf64 = data > MAX_WAV_DATA_BYTES;
    const std::uint64_t covered = data / 4 * 4;
    ASSERT_EQ(disk.header, ExpectedHeader(48000, 2, covered, rf64)) << data;
    EXPECT_EQ(file.CommittedBytes(), covered);
    for (const auto& [header, size] : disk.afterEachWrite) {
      const std::int64_t playable = PlayableBytes(header, size);
      ASSERT_GE(playable, 0) << "a crash here leaves a file that does not open, at " << data;
    }
    if (rf64 && !sawSwitch) {
      sawSwitch = true;
      // Four steps, each one field, then the sizes.
      ASSERT_EQ(disk.afterEachWrite.size(), 5u);
      EXPECT_EQ(PlayableBytes(disk.afterEachWrite[3].first, disk.size), static_cast<std::int64_t>(data - chunkBytes));
    }
  }
  EXPECT_TRUE(sawSwitch);
  ASSERT_FALSE(file.Close());
  EXPECT_EQ(disk.size, data + 80);
}

// A volume that holds no file past 4 GB - 1 byte (FAT32): the file ends at
// the last whole frame below it, its header covers it all, and the cause
// is the file's size, not a full disk, unless the disk is full too.
TEST(GrowingWavFileOnADisk, VolumeThatHoldsNoLargerFileIsToldFromAFullOne) {
  for (const std::uint64_t free : {UINT64_MAX, std::uint64_t{1000}}) {
    disk = {};
    disk.largestFile = 0xFFFFFFFF;
    disk.free = free;
    GrowingWavFile file(44100, 2, HEADER_ONLY_DISK);
    ASSERT_FALSE(file.Open(L"take.wav"));
    const std::vector<std::int16_t> chunk((std::size_t{8} << 20) + 2);
    FileError error;
    while (!error) error = file.Append(chunk);
    EXPECT_EQ(error.errnoValue, free == UINT64_MAX ? EFBIG : ENOSPC);
    const std::uint64_t wholeFrames = (0xFFFFFFFFull - 80) / 4 * 4;
    EXPECT_EQ(file.Close().errnoValue, 0);
    EXPECT_EQ(disk.header, ExpectedHeader(44100, 2, wholeFrames));
    EXPECT_LE(disk.size, 0xFFFFFFFFull);
  }
}
