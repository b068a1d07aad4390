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

  void Append(std::span<const std::int16_t> samples);
  std::size_t size() const { return count; }
  bool empty() const { return count == 0; }

  // The filled part of each block, in order.
  std::span<const std::int16_t> Block(std::size_t index) const;
  std::size_t BlockCount() const { return blocks.size(); }

 private:
  std::vector<std::unique_ptr<std::int16_t[]>> blocks;
  std::size_t count = 0;
};
