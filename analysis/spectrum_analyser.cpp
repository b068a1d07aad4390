#include "analysis/spectrum_analyser.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/fft_kernels.h"
#include "state/recorder_state.h"

// Every operation is rounded to its stated precision before the next one,
// in the order defined; the build keeps the compiler from fusing multiplies
// into adds.

namespace {

constexpr float TWO_PI = 6.2831855f;    // 2*pi rounded to single, 0x40C90FDB
constexpr float FOUR_PI = 12.566371f;   // 4*pi rounded to single, 0x41490FDB
constexpr float MIN_MAXIMUM = 1e-8f;    // 0x322BCC77

}  // namespace

void EnsureWindowTable() {
  if (!windowTable.empty()) return;
  windowTable.resize(FFT_SIZE);
  for (std::size_t i = 0; i < FFT_SIZE; ++i) {
    const float x = static_cast<float>(i);
    const float c1 = std::cos((TWO_PI * x) / 65535.0f);
    const double t = 0.42 - 0.5 * static_cast<double>(c1);
    const float c2 = std::cos((FOUR_PI * x) / 65535.0f);
    windowTable[i] = static_cast<float>(t + 0.08 * static_cast<double>(c2));
  }
}

PrecisePeak PrecisePeakOf(std::span<const float> magnitudes, std::size_t bin, double rate, double fullScale) {
  const auto db = [&](std::size_t k) { return 20.0 * std::log10(std::max(static_cast<double>(magnitudes[k]), 1e-30)); };
  const double binHz = rate / static_cast<double>(FFT_SIZE);
  if (!(magnitudes[bin] > 0.0f)) return {static_cast<double>(bin) * binHz, -1e300};
  const double top = db(bin) - 20.0 * std::log10(fullScale);
  if (bin == 0 || bin + 1 >= magnitudes.size()) return {static_cast<double>(bin) * binHz, top};
  const double below = db(bin - 1), at = db(bin), above = db(bin + 1);
  const double curvature = below - 2.0 * at + above;
  if (!(curvature < 0.0)) return {static_cast<double>(bin) * binHz, top};
  const double p = std::clamp(0.5 * (below - above) / curvature, -0.5, 0.5);
  // The parabola's vertex rises above the Blackman lobe's top by this much
  // in dB at p bins from a bin (fitted to the lobe at p = 0.25 and 0.5).
  const double bias = 0.461 * p * p - 0.388 * p * p * p * p;
  return {(static_cast<double>(bin) + p) * binHz, top - 0.25 * (below - above) * p - bias};
}

void FftInPlace(std::span<float> re, std::span<float> im) {
  const std::size_t n = re.size();
  assert(n <= FFT_SIZE && (n & (n - 1)) == 0 && im.size() == n);
  if (n < 2) return;
  KernelsFor(ActiveIsa()).transform(re.data(), im.data(), n, TwiddlesUpTo65536(), false);
}

void AnalyseFrame(const std::int16_t* samples, std::size_t count, std::int32_t rate) {
  EnsureWindowTable();
  const AnalysisKernels& kernels = KernelsFor(ActiveIsa());

  // Working storage of this thread, kept between frames: allocating and
  // zeroing 640 KiB per frame would cost more than the transform. The
  // imaginary parts start 10 KiB past the end of the real parts: rows of
  // points a power of two apart then fall into different cache sets for the
  // two arrays (measured: a fifth faster than arrays whole pages apart).
  // Both start on a 64-byte boundary, so that no vector load or store
  // straddles two cache lines (the allocator promises only 16 bytes).
  constexpr std::size_t IM_OFFSET = FFT_SIZE + 2560;
  constexpr std::size_t ALIGN_FLOATS = 64 / sizeof(float);
  thread_local std::vector<float> parts(IM_OFFSET + FFT_SIZE + ALIGN_FLOATS);
  thread_local std::vector<float> magnitudes;
  const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(parts.data()) / sizeof(float) % ALIGN_FLOATS;
  float* re = parts.data() + (ALIGN_FLOATS - misalignment) % ALIGN_FLOATS;
  float* im = re + IM_OFFSET;

  // The imaginary parts are all zero, which the transform knows without
  // reading them.
  const std::size_t used = count < FFT_SIZE ? count : FFT_SIZE;
  kernels.window(samples, windowTable.data(), re, used);
  std::fill(re + used, re + FFT_SIZE, 0.0f);
  kernels.transform(re, im, FFT_SIZE, TwiddlesUpTo65536(), true);
  magnitudes.resize(SPECTRUM_BINS);
  const float largest = kernels.magnitudes(re, im, magnitudes.data(), SPECTRUM_BINS);

  // The peak is the lowest bin holding the largest magnitude, if that
  // exceeds the floor; the normalisation divides by the larger of the two.
  float maximum = MIN_MAXIMUM;
  std::size_t peakBin = 0;
  if (largest > maximum) {
    maximum = largest;
    while (magnitudes[peakBin] != largest) ++peakBin;
  }
  // The window's sum over two: what a full-scale sine on its bin gives.
  static const double fullScale = [] {
    double sum = 0.0;
    for (const float w : windowTable) sum += static_cast<double>(w);
    return sum / 2.0;
  }();
  const PrecisePeak precise = PrecisePeakOf(magnitudes, peakBin, static_cast<double>(rate), fullScale);
  kernels.divide(magnitudes.data(), SPECTRUM_BINS, maximum);

  const float peak =
      (static_cast<float>(peakBin) * static_cast<float>(rate)) / static_cast<float>(FFT_SIZE);
  peakFrequencyHz.store(peak);
  {
    std::lock_guard lock(spectrumMutex);
    // Exchanged, not copied: the lock is held for a moment, and this
    // thread's buffer takes over the previous spectrum's storage.
    spectrum.swap(magnitudes);
    spectrumLevels = {static_cast<float>(static_cast<double>(maximum) / fullScale), precise.hz, precise.dbfs,
                      static_cast<double>(rate)};
  }
  PostNotification(mainWindow, WM_UPDATE_VISUALS);
}
