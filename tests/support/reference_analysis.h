#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The analysis written the straightforward way, one operation after another
// exactly as defined: the oracle that the fast analysis must match bit for
// bit, and the baseline of the benchmarks.

void ReferenceFftInPlace(std::span<float> re, std::span<float> im);

struct ReferenceAnalysis {
  std::vector<float> spectrum;
  float peakFrequencyHz = 0.0f;
};

// window: the 65536 window coefficients.
ReferenceAnalysis ReferenceAnalyseFrame(const std::int16_t* samples, std::size_t count,
                                        std::int32_t sampleRate, std::span<const float> window);
