#include "analysis/spectrum_analyser.h"

#include <cmath>
#include <utility>
#include <vector>

#include "state/recorder_state.h"

// Every operation below is rounded to its stated precision before the next
// one, in the order written; the build keeps the compiler from fusing
// multiplies into adds.

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

void FftInPlace(std::span<float> re, std::span<float> im) {
  const std::size_t n = re.size();

  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }

  for (std::size_t len = 2; len <= n; len <<= 1) {
    const float theta = -TWO_PI / static_cast<float>(len);
    const float cs = std::cos(theta);
    const float sn = std::sin(theta);
    const std::size_t half = len / 2;
    for (std::size_t s = 0; s < n; s += len) {
      float wr = 1.0f;
      float wi = 0.0f;
      for (std::size_t k = 0; k < half; ++k) {
        const std::size_t u = s + k;
        const std::size_t v = u + half;
        const float tr = wr * re[v] - wi * im[v];
        const float ti = wr * im[v] + wi * re[v];
        re[v] = re[u] - tr;
        im[v] = im[u] - ti;
        re[u] = re[u] + tr;
        im[u] = im[u] + ti;
        const float nextWr = wr * cs - wi * sn;
        wi = wr * sn + wi * cs;
        wr = nextWr;
      }
    }
  }
}

void AnalyseFrame(const std::int16_t* samples, std::size_t count, std::int32_t rate) {
  EnsureWindowTable();

  std::vector<float> re(FFT_SIZE, 0.0f);
  std::vector<float> im(FFT_SIZE, 0.0f);
  for (std::size_t i = 0; i < FFT_SIZE && i < count; ++i) {
    re[i] = (static_cast<float>(samples[i]) / 32768.0f) * windowTable[i];
  }
  FftInPlace(re, im);

  std::vector<float> magnitudes(SPECTRUM_BINS);
  float maximum = MIN_MAXIMUM;
  std::size_t peakBin = 0;
  for (std::size_t k = 0; k < SPECTRUM_BINS; ++k) {
    magnitudes[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
    if (magnitudes[k] > maximum) {  // strictly: the lowest bin wins a tie
      maximum = magnitudes[k];
      peakBin = k;
    }
  }
  for (float& m : magnitudes) m /= maximum;

  const float peak =
      (static_cast<float>(peakBin) * static_cast<float>(rate)) / static_cast<float>(FFT_SIZE);
  peakFrequencyHz.store(peak);
  {
    std::lock_guard lock(spectrumMutex);
    spectrum = magnitudes;
  }
  PostNotification(mainWindow, WM_UPDATE_VISUALS);
}
