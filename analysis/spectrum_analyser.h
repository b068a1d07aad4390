#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

constexpr std::size_t FFT_SIZE = 65536;
constexpr std::size_t SPECTRUM_BINS = FFT_SIZE / 2;

// Fills windowTable with the 65536-point symmetric Blackman window, once.
void EnsureWindowTable();

// Forward radix-2 decimation-in-time transform of re + i*im, in place, not
// scaled. re.size() must be a power of two no larger than FFT_SIZE and
// equal im.size().
void FftInPlace(std::span<float> re, std::span<float> im);

// The strongest tone between bins: a parabola through the three bins around
// bin, in dB, whose vertex is its frequency and level (a full-scale sine is
// 0 dBFS), with the Blackman window's own bias in the level taken out.
// Within 0.007 of a bin and 0.01 dB of a steady tone at any offset from
// its bin. fullScale is the magnitude of a full-scale sine on its bin.
struct PrecisePeak {
  double hz = 0.0;
  double dbfs = -1e300;
};
PrecisePeak PrecisePeakOf(std::span<const float> magnitudes, std::size_t bin, double rate, double fullScale);

// Windows and transforms the first 65536 samples (zero-filled if fewer),
// publishes peakFrequencyHz and the normalised spectrum, and posts
// WM_UPDATE_VISUALS to mainWindow. Analysis worker only.
void AnalyseFrame(const std::int16_t* samples, std::size_t count, std::int32_t sampleRate);
