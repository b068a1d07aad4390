#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "state/recorder_state.h"

// The spectrogram's own short analysis: frames of a few milliseconds,
// Blackman-windowed, one every half frame, each a column of levels in dBFS.

constexpr std::size_t SPECTROGRAM_MIN_POINTS = 64;
constexpr std::size_t SPECTROGRAM_MAX_POINTS = 32768;
// The frame sizes the user chooses from, as multiples of the default one.
constexpr std::uint32_t SPECTROGRAM_SIZE_MULTIPLES[] = {1, 4, 16, 32};

// The power of two nearest to 5 ms of samples at the rate (256 at 48 kHz,
// 1024 at 192 kHz) times multiple, within the sizes above.
std::uint32_t SpectrogramPoints(double rate, std::uint32_t multiple);

class SpectrogramAnalyser {
 public:
  // points: a power of two from SPECTROGRAM_MIN_POINTS to SPECTROGRAM_MAX_POINTS;
  // firstSample: the take's sample that the first one fed is.
  SpectrogramAnalyser(std::uint32_t points, double rate, std::uint64_t firstSample = 0);
  std::uint32_t Points() const { return points; }

  // Takes the next samples of the first channel; returns the columns of
  // every frame they complete, oldest first. Each column's bins are
  // 0 to points/2 - 1; a full-scale sine centred on a bin reads 0 dBFS there.
  std::vector<SpectrogramColumn> Feed(std::span<const std::int16_t> samples);

 private:
  std::uint32_t points;
  double rate;
  std::vector<float> window;
  std::vector<float> re, im;
  std::vector<std::int16_t> frame;  // the samples of the frame being filled, oldest first
  std::uint64_t frameStart = 0;     // the take's sample that frame begins with
  double fullScale = 1.0;           // the magnitude of a full-scale sine on its bin
};
