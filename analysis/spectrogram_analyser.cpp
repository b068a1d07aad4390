#include "analysis/spectrogram_analyser.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/spectrum_analyser.h"

std::uint32_t SpectrogramPoints(double rate, std::uint32_t multiple) {
  const double wanted = std::max(rate, 1.0) * 0.005;
  const double power = std::round(std::log2(wanted));
  const double points = std::exp2(std::clamp(power, 0.0, 30.0)) * multiple;
  return static_cast<std::uint32_t>(std::clamp(points, static_cast<double>(SPECTROGRAM_MIN_POINTS),
                                               static_cast<double>(SPECTROGRAM_MAX_POINTS)));
}

SpectrogramAnalyser::SpectrogramAnalyser(std::uint32_t framePoints, double framesRate, std::uint64_t firstSample)
    : points(framePoints), rate(framesRate), window(framePoints), re(framePoints), im(framePoints),
      frameStart(firstSample) {
  double sum = 0.0;
  for (std::uint32_t i = 0; i < points; ++i) {
    const double phase = 2.0 * std::numbers::pi * i / (points - 1);
    window[i] = static_cast<float>(0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase));
    sum += window[i];
  }
  fullScale = sum / 2.0;
  frame.reserve(points);
}

std::vector<SpectrogramColumn> SpectrogramAnalyser::Feed(std::span<const std::int16_t> samples) {
  std::vector<SpectrogramColumn> columns;
  const std::uint32_t hop = points / 2;
  while (!samples.empty()) {
    const std::size_t take = std::min<std::size_t>(samples.size(), points - frame.size());
    frame.insert(frame.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(take));
    samples = samples.subspan(take);
    if (frame.size() < points) break;

    for (std::uint32_t i = 0; i < points; ++i) {
      re[i] = static_cast<float>(frame[i]) / 32768.0f * window[i];
      im[i] = 0.0f;
    }
    FftInPlace(re, im);
    SpectrogramColumn column;
    column.firstSample = frameStart;
    column.points = points;
    column.rate = rate;
    column.dbfs.resize(points / 2);
    for (std::uint32_t k = 0; k < points / 2; ++k) {
      const double magnitude = std::hypot(static_cast<double>(re[k]), static_cast<double>(im[k]));
      column.dbfs[k] = static_cast<float>(20.0 * std::log10(std::max(magnitude / fullScale, 1e-12)));
    }
    columns.push_back(std::move(column));
    // The next frame starts half a frame on: it keeps the newer half.
    frame.erase(frame.begin(), frame.begin() + hop);
    frameStart += hop;
  }
  return columns;
}
