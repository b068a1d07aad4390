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

// Windows and transforms the first 65536 samples (zero-filled if fewer),
// publishes peakFrequencyHz and the normalised spectrum, and posts
// WM_UPDATE_VISUALS to mainWindow. Analysis worker only.
void AnalyseFrame(const std::int16_t* samples, std::size_t count, std::int32_t sampleRate);
