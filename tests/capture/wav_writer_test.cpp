#include "capture/wav_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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

void AppendLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The header spelled out field by field, independently of WavHeader.
std::vector<std::uint8_t> ExpectedHeader(std::uint32_t rate, std::uint16_t channels,
                                         std::uint32_t dataBytes) {
  std::vector<std::uint8_t> h;
  AppendText(h, "RIFF");
  AppendLe(h, dataBytes + 36, 4);
  AppendText(h, "WAVE");
  AppendText(h, "fmt ");
  AppendLe(h, 16, 4);
  AppendLe(h, 1, 2);
  AppendLe(h, channels, 2);
  AppendLe(h, rate, 4);
  AppendLe(h, rate * channels * 2, 4);
  AppendLe(h, channels * 2u, 2);
  AppendLe(h, 16, 2);
  AppendText(h, "data");
  AppendLe(h, dataBytes, 4);
  return h;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> HeaderBytes(std::int32_t rate, std::int32_t channels, std::uint32_t data) {
  std::ostringstream out(std::ios::binary);
  WriteWavHeader(out, rate, 16, channels, data);
  const std::string s = out.str();
  return {s.begin(), s.end()};
}

class WavFile : public ::testing::Test {
 protected:
  std::filesystem::path dir = MakeTestDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::path path = dir / "take.wav";
  void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST(WavHeaderBytes, MatchTheFormatForMonoStereoAndEmptyTakes) {
  EXPECT_EQ(HeaderBytes(48000, 2, 192000), ExpectedHeader(48000, 2, 192000));
  EXPECT_EQ(HeaderBytes(44100, 1, 88200), ExpectedHeader(44100, 1, 88200));
  EXPECT_EQ(HeaderBytes(44100, 1, 0), ExpectedHeader(44100, 1, 0));
  // The highest stereo rate the capture format check lets through.
  EXPECT_EQ(HeaderBytes(1073741823, 2, 0), ExpectedHeader(1073741823, 2, 0));

  // The worked values, read straight from the bytes.
  const auto stereo = HeaderBytes(48000, 2, 192000);
  ASSERT_EQ(stereo.size(), 44u);
  EXPECT_EQ(std::vector<std::uint8_t>(stereo.begin() + 28, stereo.begin() + 36),
            Bytes({0x00, 0xEE, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00}));  // 192000, 4, 16
  EXPECT_EQ(std::vector<std::uint8_t>(stereo.begin() + 4, stereo.begin() + 8),
            Bytes({0x24, 0xEE, 0x02, 0x00}));  // 192036
  const auto mono = HeaderBytes(44100, 1, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(mono.begin() + 28, mono.begin() + 34),
            Bytes({0x88, 0x58, 0x01, 0x00, 0x02, 0x00}));  // 88200, 2
}

TEST_F(WavFile, HoldsTheHeaderThenEverySampleLowByteFirst) {
  SampleTake take;
  std::vector<std::int16_t> samples = {0x0102, -2, 32767, -32768};
  take.Append(samples);
  ASSERT_FALSE(WriteTakeFile(path.wstring(), take, 48000, 2));

  auto expected = ExpectedHeader(48000, 2, 8);
  const auto data = Bytes({0x02, 0x01, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80});
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(WavFile, EmptyTakeIsA44ByteFile) {
  ASSERT_FALSE(WriteTakeFile(path.wstring(), SampleTake(), 44100, 1));
  EXPECT_EQ(ReadFile(path), ExpectedHeader(44100, 1, 0));
}

TEST_F(WavFile, ReplacesALongerFileEntirely) {
  {
    std::ofstream old(path, std::ios::binary);
    old << std::string(10000, 'x');
  }
  SampleTake take;
  take.Append(std::vector<std::int16_t>{1, 2});
  ASSERT_FALSE(WriteTakeFile(path.wstring(), take, 44100, 1));
  EXPECT_EQ(std::filesystem::file_size(path), 48u);
}

// A disk that takes only part of the file: the error says why, and no
// broken file is left behind (nor is a device the path names removed or
// replaced).
TEST_F(WavFile, WriteFailureSaysWhyAndLeavesNoPartOfTheFile) {
#ifdef __linux__
  SampleTake take;
  take.Append(std::vector<std::int16_t>(100000, 3));
  EXPECT_EQ(WriteTakeFile(L"/dev/full", take, 48000, 2).errnoValue, ENOSPC);
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
  const FileError error = WriteTakeFile(path.wstring(), take, 48000, 2);
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_EQ(error.errnoValue, EFBIG);
  EXPECT_EQ(ReadFile(path).size(), 14u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
#else
  GTEST_SKIP() << "needs /dev/full and RLIMIT_FSIZE";
#endif
}

TEST(WavLimits, TheLargestDataSizeStillFitsTheRiffSize) {
  EXPECT_EQ(MAX_WAV_DATA_BYTES + 36, 0xFFFFFFFFull);
  const auto header = HeaderBytes(48000, 2, static_cast<std::uint32_t>(MAX_WAV_DATA_BYTES));
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin() + 4, header.begin() + 8),
            Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

}  // namespace
