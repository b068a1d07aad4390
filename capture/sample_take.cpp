#include "capture/sample_take.h"

#include <algorithm>

void SampleTake::Append(std::span<const std::int16_t> samples) {
  while (!samples.empty()) {
    const std::size_t used = count % BLOCK_SAMPLES;
    if (used == 0 && count / BLOCK_SAMPLES == blocks.size()) {
      blocks.push_back(std::make_unique_for_overwrite<std::int16_t[]>(BLOCK_SAMPLES));
    }
    const std::size_t room = BLOCK_SAMPLES - used;
    const std::size_t n = std::min(room, samples.size());
    std::copy_n(samples.data(), n, blocks.back().get() + used);
    count += n;
    samples = samples.subspan(n);
  }
}

std::span<const std::int16_t> SampleTake::Block(std::size_t index) const {
  const std::size_t start = index * BLOCK_SAMPLES;
  const std::size_t length = std::min(BLOCK_SAMPLES, count - start);
  return {blocks[index].get(), length};
}
