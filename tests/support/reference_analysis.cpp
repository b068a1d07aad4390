#include "support/reference_analysis.h"

#include <bit>
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

const std::vector<float>& ReferenceWindowTable() {
  static const std::vector<float> table = [] {
    // 2*pi and 4*pi rounded to single, given by their bit patterns.
    const float twoPi = std::bit_cast<float>(0x40C90FDBu);
    const float fourPi = std::bit_cast<float>(0x41490FDBu);
    std::vector<float> w(65536);
    for (std::size_t i = 0; i < w.size(); ++i) {
      const float x = static_cast<float>(i);
      float theta1 = twoPi * x;
      theta1 = theta1 / 65535.0f;
      float theta2 = fourPi * x;
      theta2 = theta2 / 65535.0f;
      const double first = 0.42 - 0.5 * static_cast<double>(std::cos(theta1));
      w[i] = static_cast<float>(first + 0.08 * static_cast<double>(std::cos(theta2)));
    }
    return w;
  }();
  return table;
}

ReferenceAnalysis ReferenceAnalyseFrame(const std::int16_t* samples, std::size_t count,
                                        std::int32_t sampleRate) {
  constexpr std::size_t N = 65536;
  const std::vector<float>& window = ReferenceWindowTable();
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
