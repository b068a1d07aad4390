#include "display/spectrum_view.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <iterator>
#include <mutex>

namespace {

// What the axes span before any analysis has said the rate.
constexpr double DEFAULT_RATE = 48000.0;
constexpr std::size_t SPECTRUM_BINS_SHOWN = 32768;

}  // namespace

bool IsLargeSpectrum(PanelRect rect, int dpi) { return rect.bottom - rect.top >= ScaleToDpi(100, dpi); }

void SpectrumView::MakeGeometry(PanelRect rect, double rate, const SpectrumChoices& choices, TextSize text, int dpi) {
  SpectrumChoices shape = choices;
  shape.freeze = shape.holdPeaks = false;
  if (geometry.dpi == dpi && geometry.rect.left == rect.left && geometry.rect.top == rect.top &&
      geometry.rect.right == rect.right && geometry.rect.bottom == rect.bottom && geometry.rate == rate &&
      geometry.choices == shape && geometry.text.charWidth == text.charWidth && geometry.text.height == text.height) {
    return;
  }
  Geometry g;
  g.rect = rect;
  g.text = text;
  g.rate = rate;
  g.choices = shape;
  g.dpi = dpi;
  // Room for the dB labels on the left, the frequency labels below, the
  // peak and the readout above, and half the last frequency label on the right.
  g.plot = {rect.left + 5 * text.charWidth, rect.top + text.height + ScaleToDpi(4, dpi),
            rect.right - 2 * text.charWidth, rect.bottom - text.height - ScaleToDpi(4, dpi)};
  g.plot.right = std::max(g.plot.right, g.plot.left + 1);
  g.plot.bottom = std::max(g.plot.bottom, g.plot.top + 1);
  const double nyquist = (rate > 0.0 ? rate : DEFAULT_RATE) / 2.0;
  const int width = g.plot.right - g.plot.left, height = g.plot.bottom - g.plot.top;
  g.frequency = choices.logarithmic ? FrequencyAxis(true, LOG_AXIS_LOW_HZ, nyquist, width)
                                    : FrequencyAxis(false, 0.0, nyquist, width);
  g.level = LevelAxis(choices.floorDb, height);
  g.frequencyTicks = g.frequency.Ticks(6 * text.charWidth);
  if (choices.dbfs) {
    g.levelTicks = g.level.Ticks(text.height + ScaleToDpi(2, dpi));
  } else {
    for (const double v : {1.0, 0.75, 0.5, 0.25, 0.0}) {
      wchar_t label[8];
      std::swprintf(label, std::size(label), L"%g", v);
      g.levelTicks.push_back({v, static_cast<int>(std::lround((1.0 - v) * height)), label});
    }
  }
  if (rate > 0.0) g.curve = CurveMap(g.frequency, rate / 65536.0, SPECTRUM_BINS_SHOWN);
  geometry = std::move(g);
  pointValues.assign(geometry.curve.size(), 0.0f);
}

int SpectrumView::RowOf(float value) const {
  const int height = geometry.plot.bottom - geometry.plot.top;
  if (!geometry.choices.dbfs) {
    return static_cast<int>(std::lround((1.0 - std::clamp(static_cast<double>(value), 0.0, 1.0)) * height));
  }
  return geometry.level.ToPixel(ToDbfs(static_cast<double>(value) * shownLevels.toFullScale));
}

void SpectrumView::Update(PanelRect rect, std::span<const float> values, const SpectrumLevels& levels,
                          const SpectrumChoices& choices, TextSize text, int dpi) {
  if (choices.freeze && !frozen) {
    frozenSpectrum.assign(values.begin(), values.end());
    frozenLevels = levels;
    frozen = true;
  } else if (!choices.freeze && frozen) {
    frozen = false;
    frozenSpectrum.clear();
  }
  const std::span<const float> shown = frozen ? std::span<const float>(frozenSpectrum) : values;
  shownLevels = frozen ? frozenLevels : levels;
  const std::size_t before = geometry.curve.size();
  const double rateBefore = geometry.rate;
  MakeGeometry(rect, shownLevels.rate, choices, text, dpi);
  const bool remade = geometry.curve.size() != before || geometry.rate != rateBefore;
  for (std::size_t i = 0; i < geometry.curve.size(); ++i) {
    const CurvePoint& point = geometry.curve[i];
    float largest = 0.0f;
    if (point.last < shown.size()) {
      for (std::uint32_t bin = point.first; bin <= point.last; ++bin) largest = std::max(largest, shown[bin]);
    }
    pointValues[i] = largest;
  }
  // Held peaks start again when switched on, at Start and with a new curve;
  // they are held as levels, not as normalised values, which each frame
  // scales anew.
  const bool restart = (choices.holdPeaks && !holding) || shown.empty() || remade;
  holding = choices.holdPeaks;
  heldDb.resize(pointValues.size());
  for (std::size_t i = 0; i < pointValues.size(); ++i) {
    const double db = ToDbfs(static_cast<double>(pointValues[i]) * shownLevels.toFullScale);
    heldDb[i] = restart ? db : std::max(heldDb[i], db);
  }
  hasData = !shown.empty();
}

PanelDrawing SpectrumView::Render() const {
  PanelDrawing drawing;
  const Geometry& g = geometry;
  drawing.primitives.push_back(FillBackground{g.rect});
  const PanelRect& plot = g.plot;
  const int th = g.text.height, cw = g.text.charWidth;
  const Pen grid{PenStyle::Dot, 1, GRID_COLOUR};
  for (const AxisTick& tick : g.frequencyTicks) {
    const int x = plot.left + tick.pixel;
    drawing.primitives.push_back(Stroke{grid, {{x, plot.top}, {x, plot.bottom}}});
    if (!tick.label.empty()) {
      drawing.primitives.push_back(Label{{x, plot.bottom + ScaleToDpi(2, g.dpi)}, AXIS_TEXT_COLOUR, tick.label, false, true});
    }
  }
  for (const AxisTick& tick : g.levelTicks) {
    const int y = plot.top + tick.pixel;
    drawing.primitives.push_back(Stroke{grid, {{plot.left, y}, {plot.right, y}}});
    drawing.primitives.push_back(Label{{plot.left - cw / 2, y - th / 2}, AXIS_TEXT_COLOUR, tick.label, true});
  }
  drawing.primitives.push_back(Stroke{{PenStyle::Solid, 1, GRID_COLOUR},
                                      {{plot.left, plot.top}, {plot.left, plot.bottom}, {plot.right, plot.bottom}}});
  if (!hasData) return drawing;

  // The lines under the curve, which stays whole on top of them.
  const std::optional<std::wstring> readout = CursorText();
  if (readout) {
    const int x = g.rect.left + *cursor;
    drawing.primitives.push_back(Stroke{{PenStyle::Solid, 1, CURSOR_COLOUR}, {{x, plot.top}, {x, plot.bottom}}});
  }
  if (shownLevels.peakDbfs > g.level.Floor() || !g.choices.dbfs) {
    const double x = g.frequency.ToPixel(shownLevels.peakHz);
    if (x >= 0.0 && x <= plot.right - plot.left) {
      const int px = plot.left + static_cast<int>(std::lround(x));
      drawing.primitives.push_back(
          Stroke{{PenStyle::Solid, ScaleToDpi(1, g.dpi), PEAK_COLOUR}, {{px, plot.top}, {px, plot.bottom}}});
    }
  }
  if (holding) {
    Stroke held{{PenStyle::Solid, ScaleToDpi(1, g.dpi), HOLD_COLOUR}, {}};
    held.points.reserve(g.curve.size());
    for (std::size_t i = 0; i < g.curve.size(); ++i) {
      const int y = g.choices.dbfs ? g.level.ToPixel(heldDb[i])
                                   : RowOf(static_cast<float>(std::pow(10.0, heldDb[i] / 20.0) /
                                                              std::max(shownLevels.toFullScale, 1e-30f)));
      held.points.push_back({plot.left + g.curve[i].x, plot.top + y});
    }
    drawing.primitives.push_back(std::move(held));
  }
  Stroke curve{{PenStyle::Solid, ScaleToDpi(1, g.dpi), CURVE_COLOUR}, {}};
  curve.points.reserve(g.curve.size());
  for (std::size_t i = 0; i < g.curve.size(); ++i) {
    curve.points.push_back({plot.left + g.curve[i].x, plot.top + RowOf(pointValues[i])});
  }
  drawing.primitives.push_back(std::move(curve));

  std::wstring peak = PeakReadout(shownLevels.peakHz, shownLevels.peakDbfs);
  if (frozen) peak += L"   Frozen";
  drawing.primitives.push_back(Label{{g.rect.right - cw, g.rect.top + ScaleToDpi(2, g.dpi)}, PEAK_COLOUR, peak, true});
  if (readout) {
    drawing.primitives.push_back(Label{{plot.left, g.rect.top + ScaleToDpi(2, g.dpi)}, AXIS_TEXT_COLOUR, *readout});
  }
  drawing.drewData = true;
  return drawing;
}

PanelDrawing SpectrumView::Draw(PanelRect rect, std::span<const float> values, const SpectrumLevels& levels,
                                const SpectrumChoices& choices, TextSize text, int dpi) {
  large = IsLargeSpectrum(rect, dpi);
  if (!large) {
    shownLevels = levels;
    return SpectrumPanel(rect, values, peakFrequencyHz.load(), dpi);
  }
  Update(rect, values, levels, choices, text, dpi);
  return Render();
}

PanelDrawing SpectrumView::DrawCurrent(PanelRect rect, const SpectrumChoices& choices, TextSize text, int dpi) {
  large = IsLargeSpectrum(rect, dpi);
  if (!large) {
    {
      std::lock_guard lock(spectrumMutex);
      shownLevels = spectrumLevels;
    }
    return CurrentSpectrumPanel(rect, dpi);
  }
  {
    // Reduced to the curve's points under the lock, not copied: the
    // analysis worker waits for one pass over the bins at most.
    std::lock_guard lock(spectrumMutex);
    Update(rect, spectrum, spectrumLevels, choices, text, dpi);
  }
  return Render();
}

std::optional<std::wstring> SpectrumView::CursorText() const {
  if (!large || !cursor || geometry.curve.empty() || !hasData) return std::nullopt;
  const int x = geometry.rect.left + *cursor - geometry.plot.left;
  if (x < 0 || x > geometry.plot.right - geometry.plot.left) return std::nullopt;
  // The point the curve draws nearest the column.
  const auto next = std::lower_bound(geometry.curve.begin(), geometry.curve.end(), x,
                                     [](const CurvePoint& p, int column) { return p.x < column; });
  auto nearest = next == geometry.curve.end() ? next - 1 : next;
  if (next != geometry.curve.begin() && next != geometry.curve.end() && x - (next - 1)->x < next->x - x) nearest = next - 1;
  const float value = pointValues[static_cast<std::size_t>(nearest - geometry.curve.begin())];
  // The column's middle: it covers the frequencies up to its next one.
  return CursorReadout(geometry.frequency.ToHz(x + 0.5),
                       ToDbfs(static_cast<double>(value) * shownLevels.toFullScale));
}

std::wstring SpectrumView::AccessibleText() const {
  if (shownLevels.rate <= 0.0) return L"Spectrum";
  std::wstring text = L"Spectrum: peak " + PeakReadout(shownLevels.peakHz, shownLevels.peakDbfs).substr(6);
  if (const auto readout = CursorText()) text += L"; cursor " + *readout;
  return text;
}

std::wstring SpectrumView::SpectrumText() const {
  std::vector<float> values;
  SpectrumLevels levels;
  if (frozen) {
    values = frozenSpectrum;
    levels = frozenLevels;
  } else {
    std::lock_guard lock(spectrumMutex);
    values = spectrum;
    levels = spectrumLevels;
  }
  std::wstring text = L"Frequency (Hz)\tLevel (dBFS)\r\n";
  text.reserve(text.size() + 24 * values.size());
  const double binHz = levels.rate / 65536.0;
  for (std::size_t bin = 0; bin < values.size(); ++bin) {
    const double db = ToDbfs(static_cast<double>(values[bin]) * levels.toFullScale);
    wchar_t line[64];
    const int n = db > -1e200 ? std::swprintf(line, std::size(line), L"%.3f\t%.2f\r\n", static_cast<double>(bin) * binHz, db)
                              : std::swprintf(line, std::size(line), L"%.3f\t-inf\r\n", static_cast<double>(bin) * binHz);
    if (n > 0) text.append(line, static_cast<std::size_t>(n));
  }
  return text;
}
