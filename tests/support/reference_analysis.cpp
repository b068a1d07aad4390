#include "support/reference_analysis.h"

#include <cmath>
#include <utility>

void ReferenceFftInPlace(std::span<float> re, std::span<float> im) {
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
    const float theta = -6.2831855f / static_cast<float>(len);
    const float cs = std::cos(theta);
    const float sn = std::sin(theta);
    for (std::size_t s = 0; s < n; s += len) {
      float wr = 1.0f;
      float wi = 0.0f;
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::size_t u = s + k;
        const std::size_t v = u + len / 2;
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

ReferenceAnalysis ReferenceAnalyseFrame(const std::int16_t* samples, std::size_t count,
                                        std::int32_t sampleRate, std::span<const float> window) {
  constexpr std::size_t N = 65536;
  std::vector<float> re(N, 0.0f);
  std::vector<float> im(N, 0.0f);
  for (std::size_t i = 0; i < N && i < count; ++i) {
    re[i] = (static_cast<float>(samples[i]) / 32768.0f) * window[i];
  }
  ReferenceFftInPlace(re, im);
  ReferenceAnalysis result;
  result.spectrum.resize(N / 2);
  float maximum = 1e-8f;
  std::size_t peakBin = 0;
  for (std::size_t k = 0; k < N / 2; ++k) {
    result.spectrum[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
    if (result.spectrum[k] > maximum) {
      maximum = result.spectrum[k];
      peakBin = k;
    }
  }
  for (float& m : result.spectrum) m /= maximum;
  result.peakFrequencyHz = (static_cast<float>(peakBin) * static_cast<float>(sampleRate)) / 65536.0f;
  return result;
}
