#include "capture/wav_writer.h"
#include "capture/unsaved_take.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/test_platform.h"

#ifdef __linux__
#include <sys/resource.h>
#endif

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

void AppendText(std::vector<std::uint8_t>& out, const char* text) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(text[i]));
}

void AppendLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The header spelled out field by field, independently of WavHeader: a WAV
// file's, with a JUNK chunk in the place of ds64, or an RF64 file's.
std::vector<std::uint8_t> ExpectedHeader(std::uint32_t rate, std::uint16_t channels,
                                         std::uint64_t dataBytes, bool rf64 = false) {
  std::vector<std::uint8_t> h;
  AppendText(h, rf64 ? "RF64" : "RIFF");
  AppendLe(h, rf64 ? 0xFFFFFFFF : dataBytes + 72, 4);
  AppendText(h, "WAVE");
  AppendText(h, rf64 ? "ds64" : "JUNK");
  AppendLe(h, 28, 4);
  for (const std::uint64_t size : {dataBytes + 72, dataBytes, dataBytes / (2u * channels)}) AppendLe(h, rf64 ? size : 0, 8);
  AppendLe(h, 0, 4);
  AppendText(h, "fmt ");
  AppendLe(h, 16, 4);
  AppendLe(h, 1, 2);
  AppendLe(h, channels, 2);
  AppendLe(h, rate, 4);
  AppendLe(h, rate * channels * 2, 4);
  AppendLe(h, channels * 2u, 2);
  AppendLe(h, 16, 2);
  AppendText(h, "data");
  AppendLe(h, rf64 ? 0xFFFFFFFF : dataBytes, 4);
  return h;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> HeaderBytes(std::int32_t rate, std::int32_t channels, std::uint64_t data) {
  const WavHeader header = MakeWavHeader(rate, channels, data);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
  return {bytes, bytes + sizeof header};
}

class WavFile : public ::testing::Test {
 protected:
  std::filesystem::path dir = MakeTestDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::path path = dir / "take.wav";
  void TearDown() override { std::filesystem::remove_all(dir); }

  // A take whose disk failed once its file held the first inFile samples;
  // memory holds them from heldFrom on.
  static UnsavedTake Take(const std::vector<std::int16_t>& samples, std::int32_t rate, std::int32_t channels,
                          std::uint64_t inFile = 0, std::uint64_t heldFrom = 0, std::wstring partial = {}) {
    UnsavedTake take{{}, inFile, rate, channels, {}, partial, false, {}, false};
    take.samples.Append(samples);
    take.samples.Release(heldFrom);
    return take;
  }
};

TEST(WavHeaderBytes, MatchTheFormatForMonoStereoAndEmptyTakes) {
  EXPECT_EQ(HeaderBytes(48000, 2, 192000), ExpectedHeader(48000, 2, 192000));
  EXPECT_EQ(HeaderBytes(44100, 1, 88200), ExpectedHeader(44100, 1, 88200));
  EXPECT_EQ(HeaderBytes(44100, 1, 0), ExpectedHeader(44100, 1, 0));
  // The highest stereo rate the capture format check lets through.
  EXPECT_EQ(HeaderBytes(1073741823, 2, 0), ExpectedHeader(1073741823, 2, 0));
  // Past what 32 bits describe: RF64.
  EXPECT_EQ(HeaderBytes(48000, 2, MAX_WAV_DATA_BYTES + 4), ExpectedHeader(48000, 2, MAX_WAV_DATA_BYTES + 4, true));

  // The worked values, read straight from the bytes.
  const auto stereo = HeaderBytes(48000, 2, 192000);
  ASSERT_EQ(stereo.size(), 80u);
  EXPECT_EQ(std::vector<std::uint8_t>(stereo.begin() + 64, stereo.begin() + 72),
            Bytes({0x00, 0xEE, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00}));  // 192000, 4, 16
  EXPECT_EQ(std::vector<std::uint8_t>(stereo.begin() + 4, stereo.begin() + 8),
            Bytes({0x48, 0xEE, 0x02, 0x00}));  // 192072
  const auto mono = HeaderBytes(44100, 1, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(mono.begin() + 64, mono.begin() + 70),
            Bytes({0x88, 0x58, 0x01, 0x00, 0x02, 0x00}));  // 88200, 2
}

TEST_F(WavFile, HoldsTheHeaderThenEverySampleLowByteFirst) {
  UnsavedTake take = Take({0x0102, -2, 32767, -32768}, 48000, 2);
  ASSERT_FALSE(SaveTake(path.wstring(), take, SaveWay::Replacing));

  auto expected = ExpectedHeader(48000, 2, 8);
  const auto data = Bytes({0x02, 0x01, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80});
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(WavFile, EmptyTakeIsAHeaderAlone) {
  UnsavedTake take = Take({}, 44100, 1);
  ASSERT_FALSE(SaveTake(path.wstring(), take, SaveWay::Replacing));
  EXPECT_EQ(ReadFile(path), ExpectedHeader(44100, 1, 0));
}

TEST_F(WavFile, ReplacesALongerFileEntirely) {
  {
    std::ofstream old(path, std::ios::binary);
    old << std::string(10000, 'x');
  }
  UnsavedTake take = Take({1, 2}, 44100, 1);
  ASSERT_FALSE(SaveTake(path.wstring(), take, SaveWay::Replacing));
  EXPECT_EQ(std::filesystem::file_size(path), 84u);
}

// A disk that takes only part of the file: the error says why, and no
// broken file is left behind (nor is a device the path names removed or
// replaced).
TEST_F(WavFile, WriteFailureSaysWhyAndLeavesNoPartOfTheFile) {
#ifdef __linux__
  UnsavedTake take = Take(std::vector<std::int16_t>(100000, 3), 48000, 2);
  EXPECT_EQ(SaveTake(L"/dev/full", take, SaveWay::Replacing).errnoValue, ENOSPC);
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));

  // Files may grow to 1000 bytes: writes beyond fail with EFBIG. What the
  // path held before stays as it was, and nothing is left beside it.
  {
    std::ofstream old(path, std::ios::binary);
    old << "what was there";
  }
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{1000, limit.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  const FileError error = SaveTake(path.wstring(), take, SaveWay::Replacing);
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_EQ(error.errnoValue, EFBIG);
  EXPECT_EQ(ReadFile(path).size(), 14u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
#else
  GTEST_SKIP() << "needs /dev/full and RLIMIT_FSIZE";
#endif
}

TEST(WavLimits, TheLargestDataSizeStillFitsTheRiffSize) {
  EXPECT_EQ(MAX_WAV_DATA_BYTES + 72, 0xFFFFFFFFull);
  const auto header = HeaderBytes(48000, 2, static_cast<std::uint32_t>(MAX_WAV_DATA_BYTES));
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin() + 4, header.begin() + 8),
            Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

// A partial file that loses all but its first 2 x 65536 samples once the
// save has begun writing, as a disk pulled meanwhile would.
std::filesystem::path partialToCut;
int CuttingWrite(int descriptor, const void* data, std::size_t bytes) {
  if (!partialToCut.empty()) std::filesystem::resize_file(std::exchange(partialToCut, {}), 80 + 4 * 65536);
  return SystemFileCalls().write(descriptor, data, bytes);
}
const FileCalls CUTTING_CALLS{SystemFileCalls().open, CuttingWrite, SystemFileCalls().flush, SystemFileCalls().seek,
                              SystemFileCalls().close, SystemFileCalls().freeSpace};

// The part the failed file holds is read back and joined to what memory
// holds, whatever the overlap. Where the file cannot be read (the stick was
// pulled, before the save or during it), or for the session's rescue, only
// the rest is written and the take says so; the rescue's file is created,
// never another's overwritten. The rest alone never replaces the partial
// file, by its name or another: it goes beside it.
TEST_F(WavFile, SavedTakeJoinsThePartialFileToMemoryOrHoldsTheRest) {
  const std::uint64_t B = SampleTake::BLOCK_SAMPLES, length = 3 * B + 10;
  std::vector<std::int16_t> samples(length);
  for (std::uint64_t i = 0; i < length; ++i) samples[i] = static_cast<std::int16_t>(i * 40503u % 65536u);
  const std::filesystem::path partialPath = dir / "partial.wav", link = dir / "link.wav";
  // Gone, Cut: the disk was pulled before the save, during it. Rf64: past 4 GB, with samples after those covered.
  enum Partial { Kept, Gone, Cut, Rf64 };
  // Where the save goes: a new file, the partial file's own name, or another name of that file.
  enum Target { Elsewhere, ThePartial, ALink };
  const struct {
    std::uint64_t inFile, heldFrom;
    Partial partial;
    bool restOnly;
    SaveWay way;
    Target target = Elsewhere;
  } cases[] = {{0, 0, Kept, false, SaveWay::Replacing},         {2 * B + 6, 2 * B, Kept, false, SaveWay::Replacing},
               {2 * B, 2 * B, Kept, false, SaveWay::Replacing}, {2 * B + 6, 2 * B, Gone, true, SaveWay::Replacing},
               {2 * B + 6, 2 * B, Cut, true, SaveWay::Replacing},   {2 * B + 6, 2 * B, Rf64, false, SaveWay::Replacing},
               {2 * B + 6, 2 * B, Kept, true, SaveWay::Rescuing},
               {2 * B + 6, 2 * B, Kept, false, SaveWay::Replacing, ThePartial},
               {2 * B + 6, 2 * B, Cut, true, SaveWay::Replacing, ThePartial},
               {2 * B + 6, 2 * B, Gone, true, SaveWay::Replacing, ThePartial},
               {2 * B + 6, 2 * B, Cut, true, SaveWay::Replacing, ALink}};
  int ran = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(ran++);
    std::filesystem::remove(dir / "partial (rest).wav");
    std::filesystem::remove(link);
    GrowingWavFile partial(48000, 2);
    ASSERT_FALSE(partial.Open(partialPath.wstring()) || partial.Append(std::span(samples).first(c.inFile)) ||
                 partial.Close() || (c.partial == Gone && !std::filesystem::remove(partialPath)));
    if (c.partial == Rf64) {
      std::fstream file(partialPath, std::ios::in | std::ios::out | std::ios::binary);
      const auto header = ExpectedHeader(48000, 2, 2 * c.inFile, true);
      file.write(reinterpret_cast<const char*>(header.data()), 80).seekp(0, std::ios::end) << std::string(400, 'x');
    }
    if (c.target == ALink) std::filesystem::create_hard_link(partialPath, link);
    const std::filesystem::path target = c.target == Elsewhere ? path : c.target == ALink ? link : partialPath;
    // A rest alone asked to go over the beginning goes beside the name asked for.
    const std::filesystem::path saved = !c.restOnly || c.target == Elsewhere ? target
                                        : c.target == ALink                 ? dir / "link (rest).wav"
                                                                            : dir / "partial (rest).wav";
    UnsavedTake take = Take(samples, 48000, 2, c.inFile, c.heldFrom, partialPath.wstring());
    std::filesystem::remove(path);
    if (c.partial == Cut) partialToCut = partialPath;
    ASSERT_FALSE(SaveTake(target.wstring(), take, c.way, CUTTING_CALLS));
    EXPECT_EQ(take.savedRestOnly, c.restOnly);
    EXPECT_EQ(take.savedTo, saved.wstring());
    const auto bytes = ReadFile(saved);
    const std::uint64_t first = c.restOnly ? c.inFile : 0;
    ASSERT_EQ(bytes.size(), 80 + 2 * (length - first));
    EXPECT_EQ(std::memcmp(bytes.data() + 80, samples.data() + first, bytes.size() - 80), 0);
    if (c.way == SaveWay::Rescuing) { EXPECT_EQ(SaveTake(saved.wstring(), take, c.way).errnoValue, EEXIST); }
    EXPECT_EQ(ReadFile(saved), bytes);
    if (c.partial == Cut && c.target != Elsewhere) {
      const auto beginning = ReadFile(partialPath);
      ASSERT_EQ(beginning.size(), 80 + 4 * 65536u) << "the file that keeps the beginning was replaced";
      EXPECT_EQ(std::memcmp(beginning.data() + 80, samples.data(), 4 * 65536), 0);
    }
    std::filesystem::remove(partialPath);
  }
  EXPECT_EQ(ran, 11);
}

// The file a save is writing, as a crash between any two writes would
// leave it: the most its header has not yet covered.
std::filesystem::path fileBeingSaved;
std::uint64_t mostUncovered = 0;
int WatchedOpen(const std::filesystem::path& file, bool exclusive) {
  fileBeingSaved = file;
  return SystemFileCalls().open(file, exclusive);
}
int WatchedWrite(int descriptor, const void* data, std::size_t bytes) {
  std::ifstream in(fileBeingSaved, std::ios::binary);
  std::uint32_t covered = 0;
  if (in.seekg(76).read(reinterpret_cast<char*>(&covered), 4)) {
    mostUncovered = std::max<std::uint64_t>(mostUncovered, std::filesystem::file_size(fileBeingSaved) - 80 - covered);
  }
  return SystemFileCalls().write(descriptor, data, bytes);
}
const FileCalls WATCHED_CALLS{WatchedOpen, WatchedWrite, SystemFileCalls().flush, SystemFileCalls().seek,
                              SystemFileCalls().close, SystemFileCalls().freeSpace};

// A save cut off at any moment (the session's end, the process killed) is
// a valid file of all but its last few megabytes, rescue or not.
TEST_F(WavFile, SaveCommitsAsItGoes) {
  const std::uint64_t length = 6u << 20;  // 12 MiB of samples
  std::vector<std::int16_t> samples(length);
  for (std::uint64_t i = 0; i < length; ++i) samples[i] = static_cast<std::int16_t>(i * 40503u % 65536u);
  int ran = 0;
  for (const SaveWay way : {SaveWay::Rescuing, SaveWay::Replacing}) {
    UnsavedTake take = Take(samples, 48000, 2);
    std::filesystem::remove(path);
    mostUncovered = 0;
    std::vector<std::uint64_t> sizeWhenCreated;
    ASSERT_FALSE(SaveTake(path.wstring(), take, way, WATCHED_CALLS, [&](const std::wstring& file) {
      sizeWhenCreated.push_back(std::filesystem::file_size(FilePath(file)));
    }));
    EXPECT_EQ(sizeWhenCreated, std::vector<std::uint64_t>{80}) << "told of the file once, before any sample";
    EXPECT_GT(mostUncovered, 0u);
    EXPECT_LE(mostUncovered, SAVE_COMMIT_BYTES + 2 * SampleTake::BLOCK_SAMPLES);
    EXPECT_EQ(ReadFile(path).size(), 80 + 2 * length);
    ++ran;
  }
  EXPECT_EQ(ran, 2);
}

// A volume that keeps only the first 80 bytes of its one file, and its
// size, so that a file past 4 GB is written in moments; the header is
// logged after every write, as a crash right after it would leave it.
struct HeaderOnlyDisk {
  std::vector<std::uint8_t> header = std::vector<std::uint8_t>(80);
  std::uint64_t size = 0, position = 0, largestFile = UINT64_MAX, free = UINT64_MAX;
  std::vector<std::pair<std::vector<std::uint8_t>, std::uint64_t>> afterEachWrite;  // header, file size
} disk;

int DiskWrite(int, const void* data, std::size_t bytes) {
  const auto n = static_cast<std::size_t>(std::min(bytes, disk.largestFile - std::min(disk.largestFile, disk.position)));
  for (std::size_t i = 0; i < n && disk.position + i < 80; ++i) disk.header[disk.position + i] = static_cast<const std::uint8_t*>(data)[i];
  disk.position += n;
  disk.size = std::max(disk.size, disk.position);
  if (disk.position - n < 80) disk.afterEachWrite.emplace_back(disk.header, disk.size);
  errno = ENOSPC;
  return n == 0 ? -1 : static_cast<int>(n);
}
const FileCalls HEADER_ONLY_DISK{
    [](const std::filesystem::path&, bool) { return 7; }, DiskWrite, [](int) { return 0; },
    [](int, std::int64_t offset, int origin) -> std::int64_t {
      if (origin == SEEK_SET) disk.position = static_cast<std::uint64_t>(offset);
      return static_cast<std::int64_t>(origin == SEEK_END ? disk.size : disk.position);
    },
    [](int) { return 0; }, [](const std::filesystem::path&) { return disk.free; }};

// Whether a player opens the file, reading the header as a WAV or RF64
// header whose sizes agree with one another and with the file.
bool Opens(const std::vector<std::uint8_t>& h, std::uint64_t fileSize) {
  const auto le = [&](std::size_t at, std::size_t bytes) {
    std::uint64_t value = 0;
    std::memcpy(&value, h.data() + at, bytes);
    return value;
  };
  const auto id = [&](std::size_t at) { return std::string(reinterpret_cast<const char*>(h.data() + at), 4); };
  const bool rf64 = id(0) == "RF64" && id(12) == "ds64" && le(36, 8) * le(68, 2) == le(28, 8);
  const std::uint64_t riff = rf64 && le(4, 4) == 0xFFFFFFFF ? le(20, 8) : le(4, 4);
  const std::uint64_t data = rf64 && le(76, 4) == 0xFFFFFFFF ? le(28, 8) : le(76, 4);
  return (id(0) == "RIFF" || rf64) && id(8) + id(48) + id(72) == "WAVEfmt data" && le(16, 4) == 28 &&
         (id(12) == "JUNK" || id(12) == "ds64") && riff == data + 72 && data + 80 <= fileSize && data % le(68, 2) == 0;
}

// A take grows past 4 GB: the file is a WAV file until its header needs more
// than 32 bits, then becomes RF64 in place. After every single write, the
// switch's included, the file opens and holds what its header covers; the
// header's bytes are exact before, across and after. On a volume that holds
// no file past 4 GB - 1 byte (FAT32) the file ends at the last whole frame
// below it, covered, and the cause is its size unless the disk is full too.
TEST(GrowingWavFileOnADisk, BecomesRf64PastFourGigabytesValidAfterEveryWrite) {
  const std::vector<std::int16_t> chunk((std::size_t{8} << 20) + 2);  // 16 MiB and a frame
  const std::pair<std::uint64_t, std::uint64_t> volumes[] = {{UINT64_MAX, UINT64_MAX}, {0xFFFFFFFF, UINT64_MAX}, {0xFFFFFFFF, 1000}};
  for (const auto& [largest, free] : volumes) {
    disk = {};
    disk.largestFile = largest;
    disk.free = free;
    GrowingWavFile file(48000, 2, HEADER_ONLY_DISK);
    ASSERT_FALSE(file.Open(L"take.wav"));
    std::uint64_t data = 0;
    bool switched = false;
    FileError error;
    while (data < (std::uint64_t{9} << 29) && !error) {  // 4.5 GiB
      error = file.Append(chunk);
      data = disk.size - 80;
      disk.afterEachWrite.clear();
      ASSERT_FALSE(file.Commit());
      const bool rf64 = data / 4 * 4 > MAX_WAV_DATA_BYTES;
      ASSERT_EQ(disk.header, ExpectedHeader(48000, 2, data / 4 * 4, rf64)) << data;
      for (const auto& [header, size] : disk.afterEachWrite) ASSERT_TRUE(Opens(header, size)) << data;
      if (rf64 && !switched) {
        switched = true;
        ASSERT_EQ(disk.afterEachWrite.size(), 5u) << "four steps, one field each, then the sizes";
      }
    }
    EXPECT_EQ(switched, largest == UINT64_MAX);
    EXPECT_EQ(error.errnoValue, largest == UINT64_MAX ? 0 : disk.free == UINT64_MAX ? EFBIG : ENOSPC);
    if (largest != UINT64_MAX) { EXPECT_EQ(data / 4 * 4, (0xFFFFFFFFull - 80) / 4 * 4); }
  }
}

}  // namespace
