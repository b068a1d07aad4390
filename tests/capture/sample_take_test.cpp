#include "capture/sample_take.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <vector>

namespace {

std::int16_t Generated(std::size_t i) { return static_cast<std::int16_t>((i * 7919u) % 65536u - 32768); }

}  // namespace

// Appends of awkward sizes across block boundaries, the front given back as
// the writer does: reading what is held must give exactly the generated
// sequence, nothing lost or doubled.
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
    const std::size_t taken = written - std::min<std::size_t>(written, 3);
    take.Release(taken);  // only whole blocks go
    ASSERT_EQ(take.Start(), taken / SampleTake::BLOCK_SAMPLES * SampleTake::BLOCK_SAMPLES);
  }
  ASSERT_EQ(take.size(), written);
  take.Release(SampleTake::BLOCK_SAMPLES);  // nothing that has gone comes back

  std::size_t read = take.Start();
  for (auto part = take.Samples(read, written); !part.empty(); part = take.Samples(read, written)) {
    for (std::int16_t sample : part) {
      ASSERT_EQ(sample, Generated(read)) << "sample " << read;
      ++read;
    }
  }
  EXPECT_EQ(read, written);
  EXPECT_EQ(take.Held(), written % SampleTake::BLOCK_SAMPLES);
}

TEST(SampleTake, GrowingDoesNotMoveWhatIsAlreadyStored) {
  SampleTake take;
  std::vector<std::int16_t> chunk(1000, 5);
  take.Append(chunk);
  const std::int16_t* first = take.Samples(0, 1).data();
  for (int i = 0; i < 5000; ++i) take.Append(chunk);
  EXPECT_EQ(take.Samples(0, 1).data(), first);
  EXPECT_TRUE(SampleTake().empty());
}

// Memory runs out part-way through an append: the take is as it was, and
// still takes what fits afterwards, and more once blocks are given back.
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
  const std::vector<std::int16_t> block(SampleTake::BLOCK_SAMPLES, 9);
  EXPECT_THROW(take.Append(block), std::bad_alloc);
  take.Release(SampleTake::BLOCK_SAMPLES);
  take.Append(block);
}
