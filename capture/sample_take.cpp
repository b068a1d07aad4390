#include "capture/sample_take.h"

#include <algorithm>
#include <new>

void SampleTake::Append(std::span<const std::int16_t> samples) {
  // Every block the samples need comes first, so that a failure leaves the
  // count as it was; blocks it did get stay for the next append.
  const std::size_t needed = (count + samples.size() + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;
  if (needed > maxBlocks) throw std::bad_alloc();
  while (blocks.size() < needed) {
    blocks.push_back(std::make_unique_for_overwrite<std::int16_t[]>(BLOCK_SAMPLES));
  }
  while (!samples.empty()) {
    const std::size_t used = count % BLOCK_SAMPLES;
    const std::size_t room = BLOCK_SAMPLES - used;
    const std::size_t n = std::min(room, samples.size());
    std::copy_n(samples.data(), n, blocks[count / BLOCK_SAMPLES].get() + used);
    count += n;
    samples = samples.subspan(n);
  }
}

std::span<const std::int16_t> SampleTake::Block(std::size_t index) const {
  const std::size_t start = index * BLOCK_SAMPLES;
  const std::size_t length = std::min(BLOCK_SAMPLES, count - start);
  return {blocks[index].get(), length};
}
