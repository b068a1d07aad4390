#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// The samples of one recording, interleaved as captured. Stored in blocks of
// fixed size so that growing never copies what is already there: an hour of
// stereo at 48 kHz is about 690 MB, and the recording thread cannot afford to
// move that while the device buffer holds one second.
class SampleTake {
 public:
  static constexpr std::size_t BLOCK_SAMPLES = std::size_t{1} << 20;

  SampleTake() = default;
  // At most blockLimit blocks: the one after them fails as an allocation
  // that finds no memory would, so that running out can be tried at will.
  explicit SampleTake(std::size_t blockLimit) : maxBlocks(blockLimit) {}

  // All or nothing: when a block cannot be had, throws std::bad_alloc with
  // the take as it was.
  void Append(std::span<const std::int16_t> samples);
  std::size_t size() const { return count; }
  bool empty() const { return count == 0; }

  // The filled part of each block, in order. Blocks allocated for an Append
  // that failed hold nothing and are not counted.
  std::span<const std::int16_t> Block(std::size_t index) const;
  std::size_t BlockCount() const { return (count + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES; }

 private:
  std::vector<std::unique_ptr<std::int16_t[]>> blocks;
  std::size_t count = 0;
  std::size_t maxBlocks = SIZE_MAX;
};
