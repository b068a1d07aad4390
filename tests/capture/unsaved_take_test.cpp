#include "capture/unsaved_take.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "capture/wav_writer.h"
#include "support/test_platform.h"

#ifdef __linux__
#include <sys/resource.h>
#endif

namespace {

namespace fs = std::filesystem;

std::int16_t Generated(std::uint64_t i) { return static_cast<std::int16_t>((i * 40503u + 11u) % 65536u - 32768u); }

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The samples of a WAV file, having checked that its header covers it all.
std::vector<std::int16_t> SamplesOf(const fs::path& path) {
  const auto bytes = ReadFile(path);
  if (bytes.size() < sizeof(WavHeader)) return {};
  WavHeader header;
  std::memcpy(&header, bytes.data(), sizeof header);
  EXPECT_EQ(header.dataSize, bytes.size() - sizeof header) << "the header does not describe the file";
  std::vector<std::int16_t> samples((bytes.size() - sizeof header) / 2);
  std::memcpy(samples.data(), bytes.data() + sizeof header, samples.size() * 2);
  return samples;
}

class SavingATake : public ::testing::Test {
 protected:
  fs::path dir = MakeTestDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::path partial = dir / "partial.wav";
  void TearDown() override { fs::remove_all(dir); }

  // A take of `length` generated stereo samples whose disk failed once its
  // file held the first `inFile`; memory holds them from `heldFrom` on.
  UnsavedTake Take(std::uint64_t length, std::uint64_t inFile, std::uint64_t heldFrom) {
    UnsavedTake take;
    take.inFile = inFile;
    take.sampleRate = 48000;
    take.channels = 2;
    take.partialFile = partial.wstring();
    std::vector<std::int16_t> samples(length);
    for (std::uint64_t i = 0; i < length; ++i) samples[i] = Generated(i);
    GrowingWavFile file(48000, 2);
    EXPECT_FALSE(file.Open(partial.wstring()));
    EXPECT_FALSE(file.Append(std::span(samples).first(inFile)));
    EXPECT_FALSE(file.Close());
    take.samples.Append(samples);
    take.samples.Release(heldFrom);
    EXPECT_EQ(take.samples.Start(), heldFrom);
    return take;
  }
};

// The part the failed file holds is read back and joined to what memory
// holds, whatever the overlap; where the file cannot give it back, only
// the rest is written and the take says so, the partial file kept.
TEST_F(SavingATake, JoinsThePartialFileToMemoryOrWritesTheRestAlone) {
  const std::uint64_t B = SampleTake::BLOCK_SAMPLES;
  const struct {
    const char* name;
    std::uint64_t inFile, heldFrom;
    bool partialGone;  // the stick was pulled
    bool restOnly;
  } cases[] = {
      {"memory holds all", 0, 0, false, false},
      {"memory holds more than the rest", 2 * B + 6, 2 * B, false, false},
      {"memory holds exactly the rest", 2 * B, 2 * B, false, false},
      {"the partial file is gone", 2 * B + 6, 2 * B, true, true},
  };
  int ran = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint64_t length = 3 * B + 10;
    UnsavedTake take = Take(length, c.inFile, c.heldFrom);
    if (c.partialGone) fs::remove(partial);
    const fs::path saved = dir / "saved.wav";
    ASSERT_FALSE(SaveTake(saved.wstring(), take, SaveWay::Replacing));
    EXPECT_EQ(take.savedRestOnly, c.restOnly);
    const auto samples = SamplesOf(saved);
    const std::uint64_t first = c.restOnly ? c.inFile : 0;
    ASSERT_EQ(samples.size(), length - first);
    for (std::uint64_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], Generated(first + i)) << i;
    EXPECT_FALSE(fs::exists(saved.string() + ".part"));
    ++ran;
  }
  EXPECT_EQ(ran, 4);
}

// The rescue writes what memory holds into a file it creates: a name that
// is taken (another process's rescue) is refused, not overwritten.
TEST_F(SavingATake, RescueCreatesItsFileOrRefusesANameTaken) {
  UnsavedTake take = Take(5000, 2000, 0);
  const fs::path rescue = dir / "rescue.wav";
  ASSERT_FALSE(SaveTake(rescue.wstring(), take, SaveWay::Rescuing));
  EXPECT_TRUE(take.savedRestOnly);
  EXPECT_EQ(SamplesOf(rescue).size(), 3000u);
  EXPECT_EQ(SamplesOf(rescue).front(), Generated(2000));
  const auto before = ReadFile(rescue);
  EXPECT_EQ(SaveTake(rescue.wstring(), take, SaveWay::Rescuing).errnoValue, EEXIST);
  EXPECT_EQ(ReadFile(rescue), before);
}

// A place that fails says why, and keeps what it held before; nothing is
// left beside it (nor is a device the path names removed or replaced).
TEST_F(SavingATake, FailureSaysWhyAndLeavesWhatThePathHeld) {
  UnsavedTake take = Take(100000, 0, 0);
  const fs::path path = dir / "take.wav";
  {
    std::ofstream old(path, std::ios::binary);
    old << std::string(200000, 'x');
  }
  ASSERT_FALSE(SaveTake(path.wstring(), take, SaveWay::Replacing));
  EXPECT_EQ(fs::file_size(path), 80u + 200000u) << "a longer file is replaced whole";
#ifdef __linux__
  EXPECT_EQ(SaveTake(L"/dev/full", take, SaveWay::Replacing).errnoValue, ENOSPC);
  EXPECT_TRUE(fs::exists("/dev/full"));
  // Files may grow to 1000 bytes: writes beyond fail with EFBIG.
  const auto before = ReadFile(path);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{1000, limit.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  const FileError error = SaveTake(path.wstring(), take, SaveWay::Replacing);
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_EQ(error.errnoValue, EFBIG);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);  // and the partial file
#endif
}

}  // namespace
