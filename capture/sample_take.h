#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// The samples of one recording, interleaved as captured. Stored in blocks of
// fixed size so that growing never copies what is already there: an hour of
// stereo at 48 kHz is about 690 MB, and the recording thread cannot afford to
// move that while the device buffer holds one second.
//
// One thread appends (the recording thread); others may read what it has
// appended meanwhile (the file writer): blocks never move, and the count
// that covers a sample is published only once the sample is in place.
class SampleTake {
 public:
  static constexpr std::size_t BLOCK_SAMPLES = std::size_t{1} << 20;
  // Enough for the largest take a WAV file can hold: 4 GB of 16-bit samples.
  static constexpr std::size_t MAX_BLOCKS = 2048;

  SampleTake() = default;
  // At most blockLimit blocks: the one after them fails as an allocation
  // that finds no memory would, so that running out can be tried at will.
  explicit SampleTake(std::size_t blockLimit) : maxBlocks(blockLimit < MAX_BLOCKS ? blockLimit : MAX_BLOCKS) {}
  // Only while no other thread reads either take.
  SampleTake(SampleTake&& other) noexcept { *this = std::move(other); }
  SampleTake& operator=(SampleTake&& other) noexcept;

  // Appending thread only. All or nothing: when a block cannot be had,
  // throws std::bad_alloc with the take as it was.
  void Append(std::span<const std::int16_t> samples);
  // Any thread: every sample before this count is in place.
  std::size_t size() const { return count.load(); }
  bool empty() const { return size() == 0; }

  // The filled part of each block, in order. Blocks allocated for an Append
  // that failed hold nothing and are not counted.
  std::span<const std::int16_t> Block(std::size_t index) const;
  std::size_t BlockCount() const { return (size() + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES; }
  // Any thread: the samples from `from` up to `to` or to the end of from's
  // block, whichever comes first; `to` at most a size() read before.
  std::span<const std::int16_t> Samples(std::size_t from, std::size_t to) const;

 private:
  // Written by the appending thread before the count that covers them.
  std::array<std::unique_ptr<std::int16_t[]>, MAX_BLOCKS> blocks;
  std::size_t allocated = 0;  // appending thread only
  std::atomic<std::size_t> count{0};
  std::size_t maxBlocks = MAX_BLOCKS;
};
