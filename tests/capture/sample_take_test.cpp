#include "capture/sample_take.h"

#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace {

std::int16_t Generated(std::size_t i) { return static_cast<std::int16_t>((i * 7919u) % 65536u - 32768); }

}  // namespace

// Appends of awkward sizes across block boundaries: reading the blocks back
// in order must give exactly the generated sequence, nothing lost or doubled.
TEST(SampleTake, KeepsEverySampleInOrderAcrossBlocks) {
  SampleTake take;
  std::size_t written = 0;
  const std::size_t sizes[] = {0, 1, 960, SampleTake::BLOCK_SAMPLES - 961, 1, 2,
                               SampleTake::BLOCK_SAMPLES, 3 * SampleTake::BLOCK_SAMPLES + 17};
  for (std::size_t size : sizes) {
    std::vector<std::int16_t> chunk(size);
    for (std::size_t i = 0; i < size; ++i) chunk[i] = Generated(written + i);
    take.Append(chunk);
    written += size;
  }
  ASSERT_EQ(take.size(), written);
  ASSERT_EQ(take.BlockCount(), (written + SampleTake::BLOCK_SAMPLES - 1) / SampleTake::BLOCK_SAMPLES);

  std::size_t read = 0;
  for (std::size_t b = 0; b < take.BlockCount(); ++b) {
    for (std::int16_t sample : take.Block(b)) {
      ASSERT_EQ(sample, Generated(read)) << "sample " << read;
      ++read;
    }
  }
  EXPECT_EQ(read, written);
}

TEST(SampleTake, GrowingDoesNotMoveWhatIsAlreadyStored) {
  SampleTake take;
  std::vector<std::int16_t> chunk(1000, 5);
  take.Append(chunk);
  const std::int16_t* first = take.Block(0).data();
  for (int i = 0; i < 5000; ++i) take.Append(chunk);
  EXPECT_EQ(take.Block(0).data(), first);
  EXPECT_TRUE(SampleTake().empty());
}

// Memory runs out part-way through an append: the take is as it was, and
// still takes what fits afterwards.
TEST(SampleTake, AppendThatFindsNoMemoryChangesNothing) {
  SampleTake take(2);
  const std::vector<std::int16_t> half(SampleTake::BLOCK_SAMPLES / 2, 7);
  take.Append(half);
  const std::vector<std::int16_t> tooMuch(2 * SampleTake::BLOCK_SAMPLES, 8);
  EXPECT_THROW(take.Append(tooMuch), std::bad_alloc);
  EXPECT_EQ(take.size(), half.size());
  EXPECT_EQ(take.BlockCount(), 1u);
  take.Append(half);
  take.Append(half);
  EXPECT_EQ(take.size(), 3 * half.size());
  EXPECT_EQ(take.Block(1)[0], 7);
}
