#include "capture/sample_take.h"

#include <algorithm>
#include <new>
#include <utility>

SampleTake& SampleTake::operator=(SampleTake&& other) noexcept {
  std::scoped_lock lock(mutex, other.mutex);
  blocks = std::move(other.blocks);
  firstBlock = std::exchange(other.firstBlock, 0);
  spare = std::move(other.spare);
  count = std::exchange(other.count, 0);
  maxBlocks = other.maxBlocks;
  return *this;
}

std::uint64_t SampleTake::size() const {
  std::lock_guard lock(mutex);
  return count;
}

std::uint64_t SampleTake::Start() const {
  std::lock_guard lock(mutex);
  return firstBlock * BLOCK_SAMPLES;
}

std::uint64_t SampleTake::Held() const {
  std::lock_guard lock(mutex);
  return count - firstBlock * BLOCK_SAMPLES;
}

void SampleTake::Append(std::span<const std::int16_t> samples) {
  // The blocks the samples need come first, so that a failure leaves the
  // count as it was; blocks it did get stay for the next append.
  std::uint64_t filled = 0;
  std::size_t missing = 0;
  {
    std::lock_guard lock(mutex);
    filled = count;
    const std::uint64_t end = (filled + samples.size() + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;
    const std::uint64_t needed = end - firstBlock;
    if (needed > maxBlocks) throw std::bad_alloc();
    missing = needed > blocks.size() ? static_cast<std::size_t>(needed - blocks.size()) : 0;
    if (missing > 0 && spare) {
      blocks.push_back(std::move(spare));
      --missing;
    }
  }
  // Allocated outside the lock: the writer never waits for the heap.
  for (; missing > 0; --missing) {
    auto block = std::make_unique_for_overwrite<std::int16_t[]>(BLOCK_SAMPLES);
    std::lock_guard lock(mutex);
    blocks.push_back(std::move(block));
  }
  // Only this thread adds blocks or moves the count, and the reader
  // releases none that holds a sample at or past it.
  while (!samples.empty()) {
    std::int16_t* block = nullptr;
    {
      std::lock_guard lock(mutex);
      block = blocks[static_cast<std::size_t>(filled / BLOCK_SAMPLES - firstBlock)].get();
    }
    const std::size_t used = static_cast<std::size_t>(filled % BLOCK_SAMPLES);
    const std::size_t n = std::min(BLOCK_SAMPLES - used, samples.size());
    std::copy_n(samples.data(), n, block + used);
    filled += n;
    samples = samples.subspan(n);
  }
  // Published last: a reader that sees the new count finds the samples in place.
  std::lock_guard lock(mutex);
  count = filled;
}

std::span<const std::int16_t> SampleTake::Samples(std::uint64_t from, std::uint64_t to) const {
  const std::uint64_t blockEnd = (from / BLOCK_SAMPLES + 1) * BLOCK_SAMPLES;
  const std::uint64_t end = std::min(to, blockEnd);
  if (end <= from) return {};
  std::lock_guard lock(mutex);
  const std::int16_t* block = blocks[static_cast<std::size_t>(from / BLOCK_SAMPLES - firstBlock)].get();
  return {block + from % BLOCK_SAMPLES, static_cast<std::size_t>(end - from)};
}

void SampleTake::Release(std::uint64_t upTo) {
  for (;;) {
    std::unique_ptr<std::int16_t[]> block;
    {
      std::lock_guard lock(mutex);
      if (blocks.empty() || (firstBlock + 1) * BLOCK_SAMPLES > std::min(upTo, count)) return;
      block = std::move(blocks.front());
      blocks.pop_front();
      ++firstBlock;
      if (!spare) spare = std::move(block);
    }
    // Freed outside the lock: the appender never waits for the heap.
  }
}
