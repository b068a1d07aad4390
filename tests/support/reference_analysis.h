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

// The 65536-point Blackman window, computed here from its definition, not
// taken from the code under test.
const std::vector<float>& ReferenceWindowTable();

ReferenceAnalysis ReferenceAnalyseFrame(const std::int16_t* samples, std::size_t count,
                                        std::int32_t sampleRate);
