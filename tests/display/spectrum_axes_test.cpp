#include "display/spectrum_axes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

std::vector<std::wstring> Labels(const std::vector<AxisTick>& ticks) {
  std::vector<std::wstring> labels;
  for (const AxisTick& tick : ticks) {
    if (!tick.label.empty()) labels.push_back(tick.label);
  }
  return labels;
}

// Each axis maps its range onto its pixels and back; the logarithmic one
// gives equal room to each decade.
TEST(SpectrumAxes, FrequencyAxesMapBothWays) {
  const FrequencyAxis logarithmic(true, 20.0, 20000.0, 900), linear(false, 0.0, 24000.0, 1200);
  EXPECT_DOUBLE_EQ(logarithmic.ToPixel(20.0), 0.0);
  EXPECT_NEAR(logarithmic.ToPixel(200.0), 300.0, 1e-9);
  EXPECT_NEAR(logarithmic.ToPixel(2000.0), 600.0, 1e-9);
  EXPECT_NEAR(logarithmic.ToPixel(20000.0), 900.0, 1e-9);
  EXPECT_NEAR(linear.ToPixel(6000.0), 300.0, 1e-9);
  int ran = 0;
  for (const FrequencyAxis* axis : {&logarithmic, &linear}) {
    for (const double pixel : {0.0, 1.0, 417.5, 899.0}) {
      EXPECT_NEAR(axis->ToPixel(axis->ToHz(pixel)), pixel, 1e-6);
      ++ran;
    }
  }
  EXPECT_EQ(ran, 8);
}

// Ticks on a 1, 2, 5 grid, labelled as densely as the labels' width allows
// and never closer than it.
TEST(SpectrumAxes, TicksAreLabelledAsRoomAllows) {
  const FrequencyAxis wide(true, 20.0, 24000.0, 1000), narrow(true, 20.0, 24000.0, 200);
  EXPECT_EQ(Labels(wide.Ticks(40)), (std::vector<std::wstring>{L"20", L"50", L"100", L"200", L"500", L"1k", L"2k",
                                                                L"5k", L"10k", L"20k"}));
  EXPECT_EQ(Labels(narrow.Ticks(40)), (std::vector<std::wstring>{L"100", L"1k", L"10k"}));
  EXPECT_EQ(Labels(narrow.Ticks(80)), (std::vector<std::wstring>{L"100", L"10k"}));
  const auto grid = wide.Ticks(40);
  ASSERT_EQ(grid.size(), 28u) << "20 to 90, 100 to 900, 1k to 9k, 10k and 20k";
  EXPECT_EQ(grid[1].value, 30.0);
  EXPECT_EQ(grid[1].label, L"");
  for (std::size_t i = 1; i < grid.size(); ++i) EXPECT_GT(grid[i].pixel, grid[i - 1].pixel);

  const FrequencyAxis linear(false, 0.0, 24000.0, 1000);
  EXPECT_EQ(Labels(linear.Ticks(60)), (std::vector<std::wstring>{L"0", L"2k", L"4k", L"6k", L"8k", L"10k", L"12k",
                                                                  L"14k", L"16k", L"18k", L"20k", L"22k", L"24k"}));
  EXPECT_EQ(Labels(FrequencyAxis(false, 0.0, 96000.0, 1000).Ticks(40)).at(1), L"5k");
  EXPECT_EQ(Labels(FrequencyAxis(false, 0.0, 2000.0, 1000).Ticks(30)).at(1), L"100");  // 50 would be 25 px apart
  EXPECT_EQ(FrequencyLabel(2500.0), L"2.5k");

  const LevelAxis tall(-120.0, 300), low(-120.0, 150);
  EXPECT_EQ(Labels(tall.Ticks(20)).size(), 13u);
  EXPECT_EQ(Labels(low.Ticks(20)), (std::vector<std::wstring>{L"0", L"-20", L"-40", L"-60", L"-80", L"-100", L"-120"}));
  EXPECT_EQ(Labels(LevelAxis(-90.0, 300).Ticks(20)).back(), L"-90");
}

// A quarter of full scale sits at -12.04 dBFS on the level axis; silence
// and everything below the floor on the floor, nothing above 0.
TEST(SpectrumAxes, LevelsAndReadouts) {
  const LevelAxis axis(-120.0, 600);
  EXPECT_NEAR(ToDbfs(0.25), -12.0412, 1e-4);
  EXPECT_EQ(axis.ToPixel(ToDbfs(0.25)), 60);
  EXPECT_EQ(axis.ToPixel(ToDbfs(0.0)), 600);
  EXPECT_EQ(axis.ToPixel(-150.0), 600);
  EXPECT_EQ(axis.ToPixel(3.0), 0);
  EXPECT_DOUBLE_EQ(axis.ToDb(60.0), -12.0);
  EXPECT_EQ(PeakReadout(440.004, -12.04), L"Peak: 440.00 Hz, -12.0 dBFS");
  EXPECT_EQ(CursorReadout(2500.04, -63.24), L"2500.0 Hz, -63.2 dBFS");
  EXPECT_EQ(CursorReadout(19.96, ToDbfs(0.0)), L"20.0 Hz, -inf dBFS");
  EXPECT_EQ(PeakReadout(1000.0, -0.01), L"Peak: 1000.00 Hz, 0.0 dBFS");
}

// Every bin on the axis belongs to exactly one point, in order; columns
// take several bins where they are wide, and low bins on the logarithmic
// axis are points of their own, wider apart than a column.
TEST(SpectrumAxes, CurveMapCoversEachBinOnce) {
  const double binHz = 48000.0 / 65536.0;
  int ran = 0;
  for (const FrequencyAxis& axis : {FrequencyAxis(true, 20.0, 24000.0, 1600), FrequencyAxis(false, 0.0, 24000.0, 1600)}) {
    const auto points = CurveMap(axis, binHz, 32768);
    ASSERT_FALSE(points.empty());
    EXPECT_EQ(points.front().first, axis.Logarithmic() ? 28u : 0u) << "the first bin at or above the axis's start";
    EXPECT_EQ(points.back().last, 32767u);
    for (std::size_t i = 1; i < points.size(); ++i) {
      ASSERT_EQ(points[i].first, points[i - 1].last + 1) << i;
      ASSERT_GT(points[i].x, points[i - 1].x) << i;
    }
    EXPECT_LE(points.back().x, 1599);
    ++ran;
  }
  EXPECT_EQ(ran, 2);
  const auto logarithmic = CurveMap(FrequencyAxis(true, 20.0, 24000.0, 1600), binHz, 32768);
  EXPECT_EQ(logarithmic[0].first, logarithmic[0].last);
  EXPECT_GT(logarithmic[1].x - logarithmic[0].x, 1);
  EXPECT_GT(logarithmic.back().last - logarithmic.back().first, 10u);
  EXPECT_LT(logarithmic.size(), 1600u);
}

}  // namespace
