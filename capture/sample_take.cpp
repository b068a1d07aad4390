#include "capture/sample_take.h"

#include <algorithm>
#include <new>
#include <utility>

SampleTake& SampleTake::operator=(SampleTake&& other) noexcept {
  blocks = std::move(other.blocks);
  allocated = std::exchange(other.allocated, 0);
  count.store(other.count.load());
  other.count.store(0);
  maxBlocks = other.maxBlocks;
  return *this;
}

void SampleTake::Append(std::span<const std::int16_t> samples) {
  // Every block the samples need comes first, so that a failure leaves the
  // count as it was; blocks it did get stay for the next append.
  std::size_t filled = count.load();
  const std::size_t needed = (filled + samples.size() + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;
  if (needed > maxBlocks) throw std::bad_alloc();
  for (; allocated < needed; ++allocated) {
    blocks[allocated] = std::make_unique_for_overwrite<std::int16_t[]>(BLOCK_SAMPLES);
  }
  while (!samples.empty()) {
    const std::size_t used = filled % BLOCK_SAMPLES;
    const std::size_t n = std::min(BLOCK_SAMPLES - used, samples.size());
    std::copy_n(samples.data(), n, blocks[filled / BLOCK_SAMPLES].get() + used);
    filled += n;
    samples = samples.subspan(n);
  }
  // Published last: a reader that sees the new count finds the samples in place.
  count.store(filled);
}

std::span<const std::int16_t> SampleTake::Block(std::size_t index) const {
  const std::size_t start = index * BLOCK_SAMPLES;
  return Samples(start, std::min(start + BLOCK_SAMPLES, size()));
}

std::span<const std::int16_t> SampleTake::Samples(std::size_t from, std::size_t to) const {
  const std::size_t blockEnd = (from / BLOCK_SAMPLES + 1) * BLOCK_SAMPLES;
  const std::size_t end = std::min(to, blockEnd);
  if (end <= from) return {};
  return {blocks[from / BLOCK_SAMPLES].get() + from % BLOCK_SAMPLES, end - from};
}
