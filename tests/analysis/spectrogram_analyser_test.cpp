#include "analysis/spectrogram_analyser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

// A sine of the amplitude (1 is full scale) from sample `from` to `to`,
// silence elsewhere, rounded to 16 bits.
std::vector<std::int16_t> Burst(std::size_t length, double hz, double rate, double amplitude, std::size_t from,
                                std::size_t to) {
  std::vector<std::int16_t> samples(length);
  for (std::size_t i = from; i < std::min(to, length); ++i) {
    samples[i] = static_cast<std::int16_t>(
        std::lround(32768.0 * amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
  }
  return samples;
}

TEST(SpectrogramAnalyser, FrameSizeIsAboutFiveMillisecondsTimesTheChoice) {
  struct Row {
    double rate;
    std::uint32_t multiple, points;
  };
  const Row rows[] = {{48000, 1, 256},  {44100, 1, 256},    {96000, 1, 512},    {192000, 1, 1024},
                      {48000, 4, 1024}, {48000, 32, 8192},  {192000, 32, 32768}, {384000, 32, 32768},
                      {8000, 1, 64},    {22050, 16, 2048}};
  for (const Row& row : rows) {
    EXPECT_EQ(SpectrogramPoints(row.rate, row.multiple), row.points) << row.rate << " Hz x" << row.multiple;
  }
}

TEST(SpectrogramAnalyser, ToneLandsInItsBinAtItsLevelInEveryColumn) {
  for (const double rate : {48000.0, 192000.0}) {
    const std::uint32_t points = SpectrogramPoints(rate, 1);
    const double binHz = rate / points;
    const std::size_t bin = points / 8;  // 6 kHz at 48 kHz, 24 kHz at 192 kHz
    const auto samples = Burst(points * 40, static_cast<double>(bin) * binHz, rate, 0.25, 0, points * 40);
    SpectrogramAnalyser whole(points, rate);
    const auto columns = whole.Feed(samples);
    // A frame every half frame, each once its last sample has come.
    ASSERT_EQ(columns.size(), 79u);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const SpectrogramColumn& column = columns[c];
      ASSERT_EQ(column.firstSample, c * points / 2);
      ASSERT_EQ(column.dbfs.size(), points / 2);
      EXPECT_EQ(column.rate, rate);
      EXPECT_NEAR(column.dbfs[bin], -12.04, 0.1) << rate << " Hz, column " << c;
      EXPECT_EQ(std::max_element(column.dbfs.begin(), column.dbfs.end()) - column.dbfs.begin(),
                static_cast<std::ptrdiff_t>(bin));
      // Blackman's side lobes are 58 dB down; four bins away there is only
      // the 16 bits' rounding noise.
      EXPECT_LT(column.dbfs[bin - 4], -12.04 - 70.0);
      EXPECT_LT(column.dbfs[bin + 4], -12.04 - 70.0);
    }

    // Fed in pieces of any size, the columns are the same.
    SpectrogramAnalyser pieces(points, rate);
    std::vector<SpectrogramColumn> again;
    for (std::size_t at = 0; at < samples.size(); at += 37) {
      const std::size_t n = std::min<std::size_t>(37, samples.size() - at);
      for (auto& column : pieces.Feed(std::span(samples).subspan(at, n))) again.push_back(std::move(column));
    }
    ASSERT_EQ(again.size(), columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
      EXPECT_EQ(again[c].firstSample, columns[c].firstSample);
      EXPECT_EQ(again[c].dbfs, columns[c].dbfs);
    }
  }
}

TEST(SpectrogramAnalyser, PulseShowsInTheColumnsThatHoldItAndNoOthers) {
  // A 10 ms call at 50 kHz in 192 kHz silence.
  const double rate = 192000.0;
  const std::uint32_t points = SpectrogramPoints(rate, 1);
  const std::size_t from = 39 * 512, to = from + 1920;
  const auto samples = Burst(60000, 50000.0, rate, 0.5, from, to);
  const std::size_t bin = static_cast<std::size_t>(std::lround(50000.0 / (rate / points)));
  SpectrogramAnalyser analyser(points, rate);
  int inside = 0, outside = 0;
  for (const SpectrogramColumn& column : analyser.Feed(samples)) {
    const std::uint64_t first = column.firstSample, last = first + points;
    if (first >= from && last <= to) {
      ++inside;
      EXPECT_GT(column.dbfs[bin], -6.02 - 1.5) << "frame at " << first;
    } else if (last <= from || first >= to) {
      ++outside;
      EXPECT_LT(*std::max_element(column.dbfs.begin(), column.dbfs.end()), -200.0) << "frame at " << first;
    }
  }
  // 1920 samples hold two whole frames of 1024 that start every 512.
  EXPECT_EQ(inside, 2);
  EXPECT_GT(outside, 100);
}

}  // namespace
