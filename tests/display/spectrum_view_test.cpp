#include "display/spectrum_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/test_platform.h"

namespace {

constexpr double RATE = 48000.0, BIN_HZ = RATE / 65536.0;

const Stroke* NthStroke(const PanelDrawing& drawing, Colour colour, std::size_t n = 0) {
  for (const Primitive& p : drawing.primitives) {
    if (const auto* s = std::get_if<Stroke>(&p); s && s->pen.colour == colour && n-- == 0) return s;
  }
  return nullptr;
}

std::vector<std::wstring> LabelTexts(const PanelDrawing& drawing) {
  std::vector<std::wstring> texts;
  for (const Primitive& p : drawing.primitives) {
    if (const auto* label = std::get_if<Label>(&p)) texts.push_back(label->text);
  }
  return texts;
}

// A tone at bin 600 (439.45 Hz) at a quarter of full scale, its harmonic at
// bin 1800 50 dB below it in one bin alone, on a floor 80 dB below it.
struct Tone {
  std::vector<float> values = std::vector<float>(32768, 1e-4f);
  SpectrumLevels levels{0.25f, 600 * BIN_HZ, -12.04, RATE};
  Tone() {
    values[600] = 1.0f;
    values[1800] = static_cast<float>(std::pow(10.0, -50.0 / 20.0));
  }
};

class SpectrumViewTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSharedState(); }
  SpectrumView view;
  const PanelRect rect{0, 0, 1000, 500};
  const TextSize text{7, 15};
};

// Under 100 pixels tall (at 96 DPI, scaled) the panel draws the compact
// view, exactly; from there on the large one.
TEST_F(SpectrumViewTest, CompactBelowAHundredPixelsLargeFromThere) {
  const Tone tone;
  peakFrequencyHz.store(439.45f);
  const PanelDrawing compact = view.Draw({20, 170, 360, 210}, tone.values, tone.levels, {}, text, 96);
  const PanelDrawing expected = SpectrumPanel({20, 170, 360, 210}, tone.values, 439.45f, 96);
  ASSERT_EQ(compact.primitives.size(), expected.primitives.size());
  EXPECT_EQ(std::get<Stroke>(compact.primitives[1]).points, std::get<Stroke>(expected.primitives[1]).points);
  EXPECT_EQ(LabelTexts(compact), (std::vector<std::wstring>{L"Peak: 439.5 Hz"}));
  EXPECT_FALSE(IsLargeSpectrum({0, 0, 340, 99}, 96));
  EXPECT_TRUE(IsLargeSpectrum({0, 0, 340, 100}, 96));
  EXPECT_FALSE(IsLargeSpectrum({0, 0, 340, 149}, 144));
  EXPECT_EQ(view.AccessibleText(), L"Spectrum: peak 439.45 Hz, -12.0 dBFS") << "at any size";
}

// In dBFS on the floor chosen: the tone at -12 dBFS, its harmonic 50 dB
// below in a column of its own, labelled axes, the precise peak.
TEST_F(SpectrumViewTest, LargeViewDrawsEveryPeakInDbfs) {
  const Tone tone;
  for (const bool logarithmic : {true, false}) {
    SCOPED_TRACE(logarithmic);
    const PanelDrawing drawing = view.Draw(rect, tone.values, tone.levels, {.logarithmic = logarithmic}, text, 96);
    const Stroke* curve = NthStroke(drawing, CURVE_COLOUR);
    ASSERT_NE(curve, nullptr);
    const auto labels = LabelTexts(drawing);
    EXPECT_NE(std::find(labels.begin(), labels.end(), L"Peak: 439.45 Hz, -12.0 dBFS"), labels.end());
    EXPECT_NE(std::find(labels.begin(), labels.end(), L"-120"), labels.end());
    EXPECT_NE(std::find(labels.begin(), labels.end(), logarithmic ? L"1k" : L"10k"), labels.end());
    // The plot spans the height less the two text rows: 0 dBFS on its top.
    const int top = 15 + 4, height = 500 - 2 * (15 + 4);
    const auto rowOf = [&](double db) { return top + static_cast<int>(std::lround(db / -120.0 * height)); };
    int highest = 500, harmonic = 500;
    const FrequencyAxis axis = logarithmic ? FrequencyAxis(true, 20.0, 24000.0, 1000 - 7 * 7)
                                           : FrequencyAxis(false, 0.0, 24000.0, 1000 - 7 * 7);
    const int harmonicX = 5 * 7 + static_cast<int>(std::floor(axis.ToPixel(1800 * BIN_HZ)));
    for (const PanelPoint& p : curve->points) {
      highest = std::min(highest, p.y);
      if (p.x == harmonicX) harmonic = p.y;
    }
    EXPECT_EQ(highest, rowOf(20.0 * std::log10(0.25)));
    EXPECT_EQ(harmonic, rowOf(20.0 * std::log10(0.25) - 50.0)) << "the harmonic's column lost its peak";
  }
  const PanelDrawing floor90 = view.Draw(rect, tone.values, tone.levels, {.floorDb = -90}, text, 96);
  EXPECT_EQ(LabelTexts(floor90).at(LabelTexts(floor90).size() - 2), L"-90") << "the floor's label last";
}

// The mouse over the plot: a line and the readout of the frequency at its
// column and of the level the curve draws there; gone when it leaves.
TEST_F(SpectrumViewTest, CursorReadsFrequencyAndLevel) {
  const Tone tone;
  const FrequencyAxis axis(true, 20.0, 24000.0, 1000 - 7 * 7);
  const int column = 5 * 7 + static_cast<int>(std::floor(axis.ToPixel(1800 * BIN_HZ)));
  view.SetCursor(column);
  const PanelDrawing drawing = view.Draw(rect, tone.values, tone.levels, {}, text, 96);
  const auto readout = view.CursorText();
  ASSERT_TRUE(readout.has_value());
  double hz = 0.0, db = 0.0;
  ASSERT_EQ(std::swscanf(readout->c_str(), L"%lf Hz, %lf dBFS", &hz, &db), 2) << *readout;
  EXPECT_NEAR(hz, 1800 * BIN_HZ, axis.ToHz(column + 1 - 35) - axis.ToHz(column - 35));
  EXPECT_NEAR(db, -62.0, 0.1);
  EXPECT_NE(NthStroke(drawing, CURSOR_COLOUR), nullptr);
  EXPECT_EQ(view.AccessibleText(), L"Spectrum: peak 439.45 Hz, -12.0 dBFS; cursor " + *readout);
  view.SetCursor(std::nullopt);
  EXPECT_EQ(NthStroke(view.Draw(rect, tone.values, tone.levels, {}, text, 96), CURSOR_COLOUR), nullptr);
  EXPECT_EQ(view.AccessibleText(), L"Spectrum: peak 439.45 Hz, -12.0 dBFS");
  view.SetCursor(2);  // over the dB labels
  view.Draw(rect, tone.values, tone.levels, {}, text, 96);
  EXPECT_FALSE(view.CursorText().has_value());
}

// Held peaks keep each point's highest level since they were switched on;
// frozen, the view keeps what it showed, and says so.
TEST_F(SpectrumViewTest, HoldsPeaksAndFreezes) {
  Tone loud, quiet;
  quiet.values[600] = 0.1f;
  quiet.levels.peakDbfs = -32.04;
  view.Draw(rect, loud.values, loud.levels, {.holdPeaks = true}, text, 96);
  const PanelDrawing held = view.Draw(rect, quiet.values, quiet.levels, {.holdPeaks = true}, text, 96);
  const Stroke* trace = NthStroke(held, HOLD_COLOUR);
  const Stroke* curve = NthStroke(held, CURVE_COLOUR);
  ASSERT_TRUE(trace && curve);
  const auto top = [](const Stroke* s) {
    return std::min_element(s->points.begin(), s->points.end(), [](auto& a, auto& b) { return a.y < b.y; })->y;
  };
  EXPECT_LT(top(trace), top(curve) - 20) << "the held peak fell with the tone";
  EXPECT_EQ(NthStroke(view.Draw(rect, quiet.values, quiet.levels, {}, text, 96), HOLD_COLOUR), nullptr);

  const PanelDrawing before = view.Draw(rect, loud.values, loud.levels, {.freeze = true}, text, 96);
  const PanelDrawing frozen = view.Draw(rect, quiet.values, quiet.levels, {.freeze = true}, text, 96);
  EXPECT_EQ(NthStroke(frozen, CURVE_COLOUR)->points, NthStroke(before, CURVE_COLOUR)->points);
  const auto labels = LabelTexts(frozen);
  EXPECT_NE(std::find(labels.begin(), labels.end(), L"Peak: 439.45 Hz, -12.0 dBFS   Frozen"), labels.end());
  EXPECT_NE(NthStroke(view.Draw(rect, quiet.values, quiet.levels, {}, text, 96), CURVE_COLOUR)->points,
            NthStroke(before, CURVE_COLOUR)->points);
}

// The spectrum as text: a header, then every bin's frequency and level.
TEST_F(SpectrumViewTest, SpectrumCopiesAsTabSeparatedText) {
  const Tone tone;
  {
    std::lock_guard lock(spectrumMutex);
    spectrum = tone.values;
    spectrum[5] = 0.0f;
    spectrumLevels = tone.levels;
  }
  const std::wstring copied = view.SpectrumText();
  EXPECT_TRUE(copied.starts_with(L"Frequency (Hz)\tLevel (dBFS)\r\n0.000\t-92.04\r\n0.732\t-92.04\r\n")) << copied.substr(0, 80);
  EXPECT_NE(copied.find(L"\r\n3.662\t-inf\r\n"), std::wstring::npos);
  EXPECT_NE(copied.find(L"\r\n439.453\t-12.04\r\n"), std::wstring::npos);
  EXPECT_EQ(std::count(copied.begin(), copied.end(), L'\n'), 32769);
}

}  // namespace
