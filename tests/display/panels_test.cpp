#include "display/panels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "state/recorder_state.h"
#include "support/test_platform.h"

namespace {

constexpr PanelRect LEVEL_RECT{0, 0, 340, 20};
constexpr PanelRect PANEL_RECT{0, 0, 340, 40};

template <typename T>
std::vector<T> Only(const PanelDrawing& drawing) {
  std::vector<T> found;
  for (const auto& p : drawing.primitives) {
    if (const T* t = std::get_if<T>(&p)) found.push_back(*t);
  }
  return found;
}

TEST(LevelPanel, BarWidthFollowsTheLevel) {
  const struct {
    float level;
    int right;
  } cases[] = {{0.0f, 0}, {1.0f, 340}, {0.5f, 170}, {0.999f, 339}};
  for (const auto& c : cases) {
    const auto drawing = LevelPanel(LEVEL_RECT, c.level);
    EXPECT_TRUE(drawing.drewData);
    ASSERT_EQ(drawing.primitives.size(), 3u);  // and the label: no mark for silence, no clip light
    ASSERT_TRUE(std::holds_alternative<FillBackground>(drawing.primitives[0]));
    const auto bar = std::get<FillSolid>(drawing.primitives[1]);
    EXPECT_EQ(bar.rect.right, c.right) << c.level;
    EXPECT_EQ(bar.rect.left, 0);
    EXPECT_EQ(bar.rect.bottom, 20);
    EXPECT_EQ(bar.colour, 0x0000C800u);
  }
}

// The peak is a mark on the bar's scale, full scale on the last column, and
// a label right-aligned left of the clip light's place, drawn last.
TEST(LevelPanel, PeakMarkLabelAndClipLight) {
  const struct {
    float peak;
    int mark;
    const wchar_t* label;
  } cases[] = {{1.0f, 339, L"0.0 dBFS"}, {32767.0f / 32768.0f, 339, L"0.0 dBFS"},  // not "-0.0"
               {0.5f, 170, L"-6.0 dBFS"}, {0.25f, 85, L"-12.0 dBFS"}, {0.3162f, 107, L"-10.0 dBFS"},
               {1.0f / 32768.0f, 0, L"-90.3 dBFS"}, {0.0f, -1, L"-inf dBFS"}};
  for (const auto& c : cases) {
    const bool clipped = c.mark == 339;
    const auto drawing = LevelPanel(LEVEL_RECT, 0.1f, c.peak, clipped);
    std::vector<PanelPoint> marks;
    for (const Stroke& mark : Only<Stroke>(drawing)) marks.insert(marks.end(), mark.points.begin(), mark.points.end());
    EXPECT_EQ(marks, (c.mark < 0 ? std::vector<PanelPoint>{} : std::vector<PanelPoint>{{c.mark, 0}, {c.mark, 20}}));
    const auto label = std::get<Label>(drawing.primitives.back());
    EXPECT_TRUE(label.text == c.label && label.at == (PanelPoint{330, 2}) && label.alignRight) << c.label;
    EXPECT_EQ(LevelAccessibleText(c.peak, clipped), L"Level: peak " + std::wstring(c.label) + (clipped ? L", clipped" : L""));
    const auto fills = Only<FillSolid>(drawing);
    ASSERT_EQ(fills.size(), clipped ? 2u : 1u);
    EXPECT_EQ(std::pair(fills.back().rect.left, fills.back().colour),
              (clipped ? std::pair(334, 0x002828FFu) : std::pair(0, 0x0000C800u)));
  }
}

TEST(WaveformPanel, TooFewSamplesShowOnlyTheCentreLine) {
  for (std::size_t n : {0u, 1u}) {
    const auto drawing = WaveformPanel(PANEL_RECT, std::vector<std::int16_t>(n, 100));
    EXPECT_FALSE(drawing.drewData);
    const auto lines = Only<Stroke>(drawing);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].pen.style, PenStyle::Dot);
    EXPECT_EQ(lines[0].pen.colour, 0x00B4B4B4u);
    EXPECT_EQ(lines[0].points, (std::vector<PanelPoint>{{0, 20}, {340, 20}}));
  }
}

// A 3 kHz tone at 48 kHz repeats every 16 samples, so that every 192nd
// sample is the same: each column spans its samples' range instead, the
// band the tone fills, from the end nearer where the last column ended.
TEST(WaveformPanel, FullBufferSpansEachColumnsRangeWithTheNewestLeftOut) {
  std::vector<std::int16_t> samples(65536);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(std::lround(16384.0 * std::sin(std::numbers::pi * static_cast<double>(i) / 8)));
  }
  samples[339 * 192 + 191] = 32767;  // the last sample drawn
  samples[65535] = -32768;           // among the newest 256, not shown
  const auto trace = Only<Stroke>(WaveformPanel(PANEL_RECT, samples)).at(1);
  EXPECT_EQ(trace.pen.colour, 0x00FF9600u);
  std::vector<PanelPoint> expected;
  for (int x = 0; x < 339; ++x) expected.insert(expected.end(), {{x, x % 2 ? 30 : 10}, {x, x % 2 ? 10 : 30}});
  expected.insert(expected.end(), {{339, 30}, {339, 1}});
  EXPECT_EQ(trace.points, expected);
}

TEST(WaveformPanel, RowsOfSampleValues) {
  const struct {
    std::int16_t value;
    int row;
  } cases[] = {{32767, 1}, {16384, 10}, {0, 20}, {1, 20}, {-1, 20}, {-16384, 30}, {-32768, 40}};
  for (const auto& c : cases) {
    const auto trace = Only<Stroke>(WaveformPanel(PANEL_RECT, std::vector<std::int16_t>{c.value, c.value})).at(1);
    EXPECT_EQ(trace.points[0].y, c.row) << c.value;
  }
}

TEST(WaveformPanel, FewerSamplesThanPixelsTakeOnePixelEach) {
  const auto trace = Only<Stroke>(WaveformPanel(PANEL_RECT, std::vector<std::int16_t>(100, 0))).at(1);
  EXPECT_EQ(trace.points.size(), 100u);  // 99 segments
  EXPECT_EQ(trace.points.back().x, 99);
}

TEST(SpectrumPanel, EmptySpectrumDrawsOnlyTheBackground) {
  const auto drawing = SpectrumPanel(PANEL_RECT, {}, 440.0f);
  EXPECT_FALSE(drawing.drewData);
  ASSERT_EQ(drawing.primitives.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<FillBackground>(drawing.primitives[0]));
}

TEST(SpectrumPanel, FullSpectrumColumnsMarkerAndLabel) {
  const struct {
    std::size_t peakBin;
    int column;
  } cases[] = {{1000, 10}, {16384, 170}, {32767, 339}};
  for (const auto& c : cases) {
    std::vector<float> values(32768, 0.0f);
    values[c.peakBin] = 1.0f;
    const auto drawing = SpectrumPanel(PANEL_RECT, values, 440.26f);
    EXPECT_TRUE(drawing.drewData);
    const auto lines = Only<Stroke>(drawing);
    ASSERT_EQ(lines.size(), 2u);
    const auto& curve = lines[0];
    EXPECT_EQ(curve.pen.colour, 0x003C78DCu);
    ASSERT_EQ(curve.points.size(), 340u);  // step 96, bins 32640.. left out
    EXPECT_EQ(curve.points[0], (PanelPoint{0, 38}));
    const auto& marker = lines[1];
    EXPECT_EQ(marker.pen.width, 2);
    EXPECT_EQ(marker.pen.colour, 0x002828FFu);
    EXPECT_EQ(marker.points, (std::vector<PanelPoint>{{c.column, 0}, {c.column, 40}})) << c.peakBin;
    const auto labels = Only<Label>(drawing);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0].text, L"Peak: 440.3 Hz");
    EXPECT_EQ(labels[0].at, (PanelPoint{220, 2}));
    EXPECT_TRUE(std::holds_alternative<Label>(drawing.primitives.back())) << "label drawn last";
  }
}

TEST(SpectrumPanel, CurveRowsAreColumnAverages) {
  std::vector<float> values(32768, 0.0f);
  // Column 0's average sits just below a row: one more bin of 1 (column
  // 1's first) would lift it a row, to 32.
  for (std::size_t i = 0; i < 96; ++i) values[i] = 0.125f;   // column 0: average 0.125, row 33.25
  for (std::size_t i = 96; i < 192; ++i) values[i] = 1.0f;   // column 1: average 1
  for (std::size_t i = 192; i < 288; i += 2) values[i] = 1.0f;  // column 2: average 0.5
  const auto curve = Only<Stroke>(SpectrumPanel(PANEL_RECT, values, 0.0f)).at(0);
  EXPECT_EQ(curve.points[0], (PanelPoint{0, 33}));
  EXPECT_EQ(curve.points[1], (PanelPoint{1, 0}));
  EXPECT_EQ(curve.points[2], (PanelPoint{2, 19}));
  EXPECT_EQ(curve.points[3], (PanelPoint{3, 38}));
}

TEST(SpectrumPanel, MarkerAtTheFirstOfEqualMaximaOrTheLeftEdge) {
  std::vector<float> values(32768, 0.25f);
  values[5000] = 0.9f;
  values[20000] = 0.9f;
  EXPECT_EQ(Only<Stroke>(SpectrumPanel(PANEL_RECT, values, 0.0f)).at(1).points[0].x, 51);

  std::vector<float> none(32768, 0.0f);
  EXPECT_EQ(Only<Stroke>(SpectrumPanel(PANEL_RECT, none, 0.0f)).at(1).points[0].x, 0);
}

// At 144 DPI the panels are 1.5 times as large and so are their pens and
// the label's offsets, MulDiv's way: one pixel becomes two.
TEST(PanelsAt144Dpi, ScaleTheirPensAndLabel) {
  const int lengths[][3] = {{1, 96, 1}, {340, 96, 340}, {1, 144, 2}, {2, 144, 3}, {120, 144, 180},
                            {340, 144, 510}, {270, 144, 405}, {1, 120, 1}, {2, 120, 3}, {3, 120, 4}};
  for (const auto& l : lengths) EXPECT_EQ(ScaleToDpi(l[0], l[1]), l[2]) << l[0] << " at " << l[1];

  const PanelRect wide{0, 0, 510, 60};
  std::vector<float> values(32768, 0.0f);
  values[1000] = 1.0f;
  const auto spectrumDrawing = SpectrumPanel(wide, values, 440.26f, 144);
  const auto lines = Only<Stroke>(spectrumDrawing);
  EXPECT_EQ(lines.at(0).pen.width, 2);
  EXPECT_EQ(lines.at(0).points.size(), 510u);  // step 64
  EXPECT_EQ(lines.at(1).pen.width, 3);
  EXPECT_EQ(lines.at(1).points, (std::vector<PanelPoint>{{15, 0}, {15, 60}}));
  EXPECT_EQ(Only<Label>(spectrumDrawing).at(0).at, (PanelPoint{330, 3}));
  const auto waveform = Only<Stroke>(WaveformPanel(wide, std::vector<std::int16_t>(65536, 0), 144));
  EXPECT_EQ(std::pair(waveform.at(0).pen.width, waveform.at(1).pen.width), std::pair(2, 2));
  EXPECT_EQ(waveform.at(1).points.size(), 510u);  // step 128
}

TEST(PanelsWithoutWidth, DrawNothingButTheBackground) {
  const PanelRect flat{5, 5, 5, 45};
  EXPECT_FALSE(WaveformPanel(flat, std::vector<std::int16_t>(1000, 1)).drewData);
  EXPECT_FALSE(SpectrumPanel(flat, std::vector<float>(32768, 1.0f), 1.0f).drewData);
}

TEST(CurrentPanels, DrawFromTheSharedState) {
  ResetSharedState();
  levelValue.store(0.5f);
  peakFrequencyHz.store(1000.04f);
  std::vector<std::int16_t> samples(65536);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(i * 7 % 65536 - 32768);
  {
    std::lock_guard lock(displayMutex);
    leftDisplay.assign(samples.begin(), samples.end());
  }
  std::vector<float> values(32768, 0.0f);
  values[1365] = 1.0f;
  {
    std::lock_guard lock(spectrumMutex);
    spectrum = values;
  }
  EXPECT_EQ(std::get<FillSolid>(CurrentLevelPanel(LEVEL_RECT).primitives[1]).rect.right, 170);
  // The trace from the shared buffer is the one drawn from a copy of it.
  const auto trace = Only<Stroke>(CurrentWaveformPanel(PANEL_RECT)).at(1).points;
  EXPECT_EQ(trace, Only<Stroke>(WaveformPanel(PANEL_RECT, samples)).at(1).points);
  EXPECT_GT(trace.size(), 340u);
  const auto spectrumDrawing = CurrentSpectrumPanel(PANEL_RECT);
  EXPECT_EQ(Only<Label>(spectrumDrawing).at(0).text, L"Peak: 1000.0 Hz");
  EXPECT_EQ(Only<Stroke>(spectrumDrawing).at(1).points[0].x, 14);
  // The curve reduced under the lock is the one drawn from a copy.
  const auto curve = Only<Stroke>(spectrumDrawing).at(0).points;
  EXPECT_EQ(curve, Only<Stroke>(SpectrumPanel(PANEL_RECT, values, 1000.04f)).at(0).points);
  EXPECT_EQ(curve.size(), 340u);
}

}  // namespace
