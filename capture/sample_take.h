#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>

// The samples of one recording that its file has not yet taken safely,
// interleaved as captured and counted from the take's first sample. Stored
// in blocks of fixed size so that growing never copies what is already
// there, and released from the front once the file holds them: memory
// holds a window behind capture, not the take.
//
// One thread appends (the recording thread); one other may read what it
// has appended and release what it no longer needs (the file writer).
// Blocks never move while held, and the count that covers a sample is
// published only once the sample is in place.
class SampleTake {
 public:
  static constexpr std::size_t BLOCK_SAMPLES = std::size_t{1} << 18;

  SampleTake() = default;
  // At most blockLimit blocks held at once: the one after them fails as an
  // allocation that finds no memory would, so that running out can be
  // tried at will.
  explicit SampleTake(std::size_t blockLimit) : maxBlocks(blockLimit) {}
  // Only while no other thread reads either take.
  SampleTake(SampleTake&& other) noexcept { *this = std::move(other); }
  SampleTake& operator=(SampleTake&& other) noexcept;

  // Appending thread only. All or nothing: when a block cannot be had,
  // throws std::bad_alloc with the take as it was.
  void Append(std::span<const std::int16_t> samples);
  // Any thread: every sample before this count has been appended.
  std::uint64_t size() const;
  bool empty() const { return size() == 0; }
  // Any thread: the first sample still held; those before it were released.
  std::uint64_t Start() const;
  // Any thread: samples held in memory, read at one moment.
  std::uint64_t Held() const;

  // Reading thread: the samples from `from` (at least Start()) up to `to`
  // or to the end of from's block, whichever comes first; `to` at most a
  // size() read before. Valid until the reader releases them.
  std::span<const std::int16_t> Samples(std::uint64_t from, std::uint64_t to) const;
  // Reading thread: the blocks wholly before sample `upTo` are given back.
  void Release(std::uint64_t upTo);

 private:
  mutable std::mutex mutex;  // guards everything below; never held while copying samples
  // The held blocks, the first being block number firstBlock of the take.
  std::deque<std::unique_ptr<std::int16_t[]>> blocks;
  std::uint64_t firstBlock = 0;
  // One released block, kept for the next append: a steady recording then
  // allocates nothing.
  std::unique_ptr<std::int16_t[]> spare;
  std::uint64_t count = 0;
  std::size_t maxBlocks = SIZE_MAX;
};
