#include "capture/sample_take.h"

#include <gtest/gtest.h>

#include <new>
#include <thread>
#include <vector>

#include "support/test_platform.h"

namespace {

using namespace std::chrono_literals;

std::int16_t Generated(std::uint64_t i) { return static_cast<std::int16_t>((i * 7919u) % 65536u - 32768); }

// Reads the take from `from` to its end as the file writer does.
std::uint64_t ExpectGenerated(const SampleTake& take, std::uint64_t from) {
  const std::uint64_t end = take.size();
  while (from < end) {
    const auto part = take.Samples(from, end);
    if (part.empty()) break;
    for (std::int16_t sample : part) {
      if (sample != Generated(from)) {
        ADD_FAILURE() << "sample " << from;
        return from;
      }
      ++from;
    }
  }
  return from;
}

}  // namespace

// Appends of awkward sizes across block boundaries, with the front given
// back as a writer would: what is held reads back exactly as generated,
// nothing lost or doubled, and memory holds only the blocks not yet given
// back (at most one spare besides).
TEST(SampleTake, KeepsEverySampleInOrderAndGivesBackWhatIsReleased) {
  SampleTake take;
  EXPECT_TRUE(take.empty());
  std::uint64_t written = 0;
  const std::size_t B = SampleTake::BLOCK_SAMPLES;
  const struct {
    std::size_t append;
    std::uint64_t releaseTo;  // then released up to here
    std::uint64_t start;      // the first sample held after it
  } steps[] = {{0, 0, 0},          {1, 1, 0},         {960, 0, 0},   {B - 961, B - 1, 0},
               {1, B, B},          {2, B, B},         {B, 2 * B + 1, 2 * B},
               {3 * B + 17, 4 * B, 4 * B},           {0, 9 * B, 5 * B}};
  int ran = 0;
  for (const auto& step : steps) {
    std::vector<std::int16_t> chunk(step.append);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = Generated(written + i);
    take.Append(chunk);
    written += chunk.size();
    ASSERT_EQ(take.size(), written);
    take.Release(step.releaseTo);
    EXPECT_EQ(take.Start(), step.start) << "step " << ran;
    EXPECT_EQ(take.Held(), written - step.start);
    EXPECT_EQ(ExpectGenerated(take, take.Start()), written) << "step " << ran;
    ++ran;
  }
  EXPECT_EQ(ran, 9);
}

// Memory runs out part-way through an append: the take is as it was, and
// still takes what fits afterwards; given-back blocks make room again.
TEST(SampleTake, AppendThatFindsNoMemoryChangesNothing) {
  SampleTake take(2);
  const std::vector<std::int16_t> half(SampleTake::BLOCK_SAMPLES / 2, 7);
  take.Append(half);
  const std::vector<std::int16_t> tooMuch(2 * SampleTake::BLOCK_SAMPLES, 8);
  EXPECT_THROW(take.Append(tooMuch), std::bad_alloc);
  EXPECT_EQ(take.size(), half.size());
  take.Append(half);
  take.Append(half);
  EXPECT_EQ(take.size(), 3 * half.size());
  EXPECT_EQ(take.Samples(SampleTake::BLOCK_SAMPLES, take.size())[0], 7);
  EXPECT_THROW(take.Append(tooMuch), std::bad_alloc);
  take.Release(SampleTake::BLOCK_SAMPLES);
  take.Append(half);
  EXPECT_EQ(take.Held(), 2 * half.size());
}

// Capture appends while the writer reads and gives back behind it, as
// while recording: every sample arrives once, in order, and the window in
// memory stays a few blocks however long the take.
TEST(SampleTake, ReaderGivesBackBehindAnAppenderWithoutLosingASample) {
  SampleTake take;
  constexpr std::uint64_t TOTAL = 40 * SampleTake::BLOCK_SAMPLES + 123;
  std::uint64_t maxHeld = 0;
  RunWithWatchdog(
      [&] {
        std::thread appender([&] {
          std::vector<std::int16_t> packet;
          for (std::uint64_t next = 0; next < TOTAL;) {
            packet.resize(std::min<std::uint64_t>(4801, TOTAL - next));
            for (auto& sample : packet) sample = Generated(next++);
            take.Append(packet);
            while (take.Held() > 4 * SampleTake::BLOCK_SAMPLES) std::this_thread::yield();
          }
        });
        std::uint64_t read = 0;
        while (read < TOTAL) {
          read = ExpectGenerated(take, read);
          maxHeld = std::max(maxHeld, take.Held());
          take.Release(read);
        }
        appender.join();
      },
      60s, "appender and reader");
  EXPECT_EQ(take.size(), TOTAL);
  EXPECT_LE(maxHeld, 5 * SampleTake::BLOCK_SAMPLES);
}
