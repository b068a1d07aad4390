#include "display/spectrogram_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/test_platform.h"

namespace {

constexpr double RATE = 48000.0;
constexpr std::uint32_t POINTS = 256, HOP = POINTS / 2;
constexpr PanelRect RECT{0, 0, 800, 400};
constexpr TextSize TEXT{7, 15};

// A column of the short analysis: every bin at `level`, bin `loudBin` at `loud`.
SpectrogramColumn Column(std::uint64_t hop, float level, std::uint32_t loudBin = 0, float loud = -1000.0f) {
  SpectrogramColumn column{hop * HOP, POINTS, RATE, std::vector<float>(POINTS / 2, level)};
  column.dbfs[loudBin] = std::max(level, loud);
  return column;
}

// The colour on the screen at a point of the panel: the last of the
// drawing's images that covers it, as the painter draws them in order.
std::optional<Pixel> ScreenPixel(const PanelDrawing& drawing, int x, int y) {
  std::optional<Pixel> seen;
  for (const Primitive& p : drawing.primitives) {
    const auto* image = std::get_if<Bitmap>(&p);
    if (image && x >= image->rect.left && x < image->rect.right && y >= image->rect.top && y < image->rect.bottom) {
      seen = image->pixels[(y - image->rect.top) * image->stride + image->sourceLeft + (x - image->rect.left)];
    }
  }
  return seen;
}

// The plot: where the first image starts, and the two first images' width.
PanelRect Plot(const PanelDrawing& drawing) {
  PanelRect plot{};
  int images = 0;
  for (const Primitive& p : drawing.primitives) {
    const auto* image = std::get_if<Bitmap>(&p);
    if (!image || image->stride == 1) continue;
    if (images++ == 0) plot = image->rect;
    plot.right = image->rect.right;
  }
  return plot;
}

SpectrumChoices Choices(int historySeconds) {
  SpectrumChoices choices;
  choices.spectrogram = true;
  choices.logarithmic = false;
  choices.historySeconds = historySeconds;
  return choices;
}

TEST(SpectrogramView, RowsCoverEveryBinOnceFromTheTopDown) {
  const double binHz = RATE / POINTS;
  for (const bool logarithmic : {true, false}) {
    for (const int rows : {40, 128, 362, 1000}) {
      const FrequencyAxis axis(logarithmic, logarithmic ? 20.0 : 0.0, RATE / 2, rows);
      const auto map = RowMap(axis, binHz, POINTS / 2);
      ASSERT_EQ(map.size(), static_cast<std::size_t>(rows));
      // Downward the bins fall; no bin between the first row's and the
      // last row's is left out, nor shown in two rows unless taller than one.
      EXPECT_EQ(map.front().last, POINTS / 2 - 1);
      for (std::size_t y = 0; y + 1 < map.size(); ++y) {
        ASSERT_LE(map[y].first, map[y].last);
        EXPECT_TRUE(map[y + 1].last + 1 == map[y].first || (map[y + 1].first == map[y].first && map[y].first == map[y].last))
            << (logarithmic ? "log " : "linear ") << rows << " rows, row " << y;
      }
      // Each row's bins lie within its span, or it shows the one its middle is in.
      for (int y = 0; y < rows; ++y) {
        const double low = axis.ToHz(rows - 1 - y), high = axis.ToHz(rows - y), middle = axis.ToHz(rows - y - 0.5);
        const RowBins& row = map[static_cast<std::size_t>(y)];
        if (row.first == row.last && (row.first * binHz < low || row.first * binHz >= high)) {
          // Above the last bin's centre, rows show the last bin.
          EXPECT_EQ(row.first, std::min<std::uint32_t>(static_cast<std::uint32_t>(std::lround(middle / binHz)), POINTS / 2 - 1)) << y;
        } else {
          EXPECT_GE(row.first * binHz, low - 1e-9);
          EXPECT_LT(row.last * binHz, high + 1e-9);
        }
      }
    }
  }
}

TEST(SpectrogramView, TimeTicksAreRoundStepsBackFromNow) {
  const auto ticks = TimeTicks(10.0, 700, 42);
  ASSERT_EQ(ticks.size(), 11u);
  EXPECT_EQ(ticks[0].label, L"now");
  EXPECT_EQ(ticks[0].pixel, 700);
  EXPECT_EQ(ticks[1].label, L"-1 s");
  EXPECT_EQ(ticks[10].label, L"-10 s");
  EXPECT_EQ(ticks[10].pixel, 0);
  const auto sparse = TimeTicks(10.0, 200, 42);  // 20 pixels a second: every 5 s
  ASSERT_EQ(sparse.size(), 3u);
  EXPECT_EQ(sparse[1].label, L"-5 s");
  EXPECT_EQ(sparse[1].pixel, 100);
  EXPECT_EQ(AgoText(2.44), L"2.4 s ago");
}

TEST(SpectrogramView, RingSlotsCountBackFromTheNewest) {
  const struct {
    std::int64_t index, newest;
    int head, width, slot;
  } rows[] = {{10, 10, 3, 8, 3}, {9, 10, 3, 8, 2}, {7, 10, 3, 8, 0}, {6, 10, 3, 8, 7}, {3, 10, 3, 8, 4}, {0, 0, 0, 1, 0}};
  for (const auto& r : rows) EXPECT_EQ(SpectrogramTimeline::SlotOf(r.newest - r.index, r.head, r.width), r.slot);
  const SpectrogramTimeline line{700, 2.0 * 48000 / 700};
  EXPECT_EQ(line.ColumnOf(0), 0);
  EXPECT_EQ(line.ColumnOf(138), 1);  // 137.14 samples a column
  EXPECT_EQ(line.ColumnOf(137), 0);
  EXPECT_EQ(line.ColumnOf(275), 2);
}

// A pulse 5 hops long among quiet hops: it shows in the columns whose time
// holds it, at its frequency, and nowhere else; the image on the screen is
// the ring's columns in order, oldest on the left.
TEST(SpectrogramView, PulseShowsInItsColumnsAtItsRowInOrder) {
  SpectrogramView view;
  const SpectrumChoices choices = Choices(2);
  std::vector<SpectrogramColumn> columns;
  const std::uint64_t hops = 1500, pulseFrom = 1000, pulseTo = 1005;  // 4 s of hops: the ring has turned
  const std::uint32_t loudBin = 40;                                    // 7500 Hz
  for (std::uint64_t h = 0; h < hops; ++h) columns.push_back(Column(h, -100.0f, loudBin, h >= pulseFrom && h < pulseTo ? -10.0f : -100.0f));
  const PanelDrawing drawing = view.Draw(RECT, columns, {}, choices, TEXT, 96);
  const PanelRect plot = Plot(drawing);
  const int width = plot.right - plot.left, height = plot.bottom - plot.top;
  ASSERT_GT(width, 600);
  EXPECT_EQ(view.FilledColumns(), width);
  const double samplesPerColumn = 2.0 * RATE / width;
  const auto newestColumn = static_cast<std::int64_t>(static_cast<double>((hops - 1) * HOP + HOP) / samplesPerColumn);
  const auto columnOf = [&](std::uint64_t hop) {  // the screen x of the hop's column
    return plot.left + width - 1 - static_cast<int>(newestColumn - static_cast<std::int64_t>(static_cast<double>(hop * HOP + HOP) / samplesPerColumn));
  };
  const int loudRow = plot.top + height - 1 - static_cast<int>(std::floor(7500.0 / 24000.0 * height));
  const Pixel loud = LevelColour(-10.0f, -120.0f), quiet = LevelColour(-100.0f, -120.0f);
  int loudColumns = 0;
  for (int x = plot.left; x < plot.right; ++x) {
    const bool inPulse = x >= columnOf(pulseFrom) && x <= columnOf(pulseTo - 1);
    loudColumns += inPulse;
    EXPECT_EQ(ScreenPixel(drawing, x, loudRow), inPulse ? loud : quiet) << "x " << x;
    EXPECT_EQ(ScreenPixel(drawing, x, loudRow - 20), quiet) << "x " << x;
  }
  EXPECT_GE(loudColumns, 4);

  // The readout says the same, with the time.
  view.SetCursor(PanelPoint{columnOf(pulseFrom + 2), loudRow});
  const std::wstring readout = view.CursorText().value_or(L"");
  EXPECT_NE(readout.find(L" Hz, -10.0 dBFS, "), std::wstring::npos) << readout;
  const double ago = (plot.right - 1 - columnOf(pulseFrom + 2)) * samplesPerColumn / RATE;
  EXPECT_NE(readout.find(AgoText(ago)), std::wstring::npos) << readout;
  view.SetCursor(PanelPoint{columnOf(pulseFrom + 2), loudRow - 20});
  EXPECT_NE(view.CursorText().value_or(L"").find(L"-100.0 dBFS"), std::wstring::npos);
  EXPECT_EQ(view.AccessibleText().rfind(L"Spectrogram; cursor ", 0), 0u) << view.AccessibleText();
  view.SetCursor(PanelPoint{plot.left - 2, loudRow});
  EXPECT_FALSE(view.CursorText());

  // Frozen, new columns are not taken; the picture stays.
  SpectrumChoices frozen = choices;
  frozen.freeze = true;
  const PanelDrawing still = view.Draw(RECT, {Column(hops + 400, -5.0f)}, {}, frozen, TEXT, 96);
  EXPECT_EQ(ScreenPixel(still, columnOf(pulseFrom), loudRow), loud);
}

// Where a column covers several hops, each frequency shows its loudest;
// after a resize the history that fits stays, each pixel at its time and
// frequency.
TEST(SpectrogramView, ColumnKeepsTheLoudestHopAndResizingKeepsWhatFits) {
  SpectrogramView view;
  const SpectrumChoices choices = Choices(30);  // about 16 hops a column
  std::vector<SpectrogramColumn> columns;
  for (std::uint64_t h = 0; h < 3000; ++h) columns.push_back(Column(h, h % 7 == 3 ? -20.0f : -80.0f));
  const PanelDrawing wide = view.Draw(RECT, columns, {}, choices, TEXT, 96);
  const PanelRect plot = Plot(wide);
  const int y = plot.top + 10;
  for (int x = plot.right - 1; x > plot.right - 150; --x) {
    EXPECT_EQ(ScreenPixel(wide, x, y), LevelColour(-20.0f, -120.0f)) << "x " << x;
  }
  // Before the take began: nothing.
  EXPECT_EQ(ScreenPixel(wide, plot.left, y), ColourMap()[0]);

  const PanelRect narrower{0, 0, 500, 300};
  const PanelDrawing small = view.Draw(narrower, {}, {}, choices, TEXT, 96);
  const PanelRect smallPlot = Plot(small);
  for (int x = smallPlot.right - 1; x > smallPlot.right - 60; --x) {
    EXPECT_EQ(ScreenPixel(small, x, smallPlot.top + 5), LevelColour(-20.0f, -120.0f)) << "x " << x;
  }
  // The next column lands after the kept ones.
  const PanelDrawing next = view.Draw(narrower, {Column(3100, -5.0f)}, {}, choices, TEXT, 96);
  EXPECT_EQ(ScreenPixel(next, smallPlot.right - 1, smallPlot.top + 5), LevelColour(-5.0f, -120.0f));
  EXPECT_EQ(ScreenPixel(next, smallPlot.right - 40, smallPlot.top + 5), LevelColour(-20.0f, -120.0f));
}

}  // namespace
