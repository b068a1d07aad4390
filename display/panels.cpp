#include "display/panels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <mutex>

#include "state/recorder_state.h"

namespace {

int Truncate(float value) { return static_cast<int>(value); }

// Samples or values per column: at least one.
std::size_t ColumnStep(std::size_t count, int width) {
  const std::size_t step = count / static_cast<std::size_t>(width);
  return step == 0 ? 1 : step;
}

int WaveformRow(std::int16_t sample, int mid, int height) {
  const int halved = sample * height / 2;
  return mid - Truncate(static_cast<float>(halved) / 32768.0f);
}

// The smallest and the largest sample a column covers.
struct ColumnRange {
  std::int16_t low = 0;
  std::int16_t high = 0;
};

// One range per column: the step samples from x * step, or with fewer than
// two samples a column the one sample x. None with fewer than two samples.
std::vector<ColumnRange> ColumnRanges(std::span<const std::int16_t> samples, int width) {
  std::vector<ColumnRange> columns;
  const std::size_t n = samples.size();
  if (n < 2 || width <= 0) return columns;
  const std::size_t step = ColumnStep(n, width);
  for (std::size_t x = 0; x * step < n && x < static_cast<std::size_t>(width); ++x) {
    const auto covered = samples.subspan(x * step, std::min(step, n - x * step));
    std::int16_t low = covered[0], high = covered[0];
    for (const std::int16_t s : covered) {
      low = std::min(low, s);
      high = std::max(high, s);
    }
    columns.push_back({low, high});
  }
  return columns;
}

PanelDrawing WaveformThrough(PanelRect rect, std::span<const ColumnRange> columns, int dpi) {
  PanelDrawing drawing;
  drawing.primitives.push_back(FillBackground{rect});
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return drawing;  // nothing to draw on

  const int mid = (rect.top + rect.bottom) / 2;
  drawing.primitives.push_back(
      Stroke{{PenStyle::Dot, ScaleToDpi(1, dpi), CENTRE_LINE_COLOUR}, {{rect.left, mid}, {rect.right, mid}}});
  if (columns.empty()) return drawing;

  // A column's span is drawn from the end nearer the previous column's
  // last point, so that the joins stay short and the trace continuous.
  Stroke trace{{PenStyle::Solid, ScaleToDpi(1, dpi), TRACE_COLOUR}, {}};
  trace.points.reserve(2 * columns.size());
  for (std::size_t x = 0; x < columns.size(); ++x) {
    const int column = rect.left + static_cast<int>(x);
    int first = WaveformRow(columns[x].high, mid, height);
    int last = WaveformRow(columns[x].low, mid, height);
    if (!trace.points.empty()) {
      const int previous = trace.points.back().y;
      if (std::abs(previous - last) < std::abs(previous - first)) std::swap(first, last);
    }
    trace.points.push_back({column, first});
    if (last != first) trace.points.push_back({column, last});
  }
  drawing.primitives.push_back(std::move(trace));
  drawing.drewData = true;
  return drawing;
}

// What the spectrum panel draws of the values: the average of each
// column's values and where the largest value lies. Nothing (count 0) with
// fewer than two values or no width.
struct SpectrumColumns {
  std::vector<float> averages;
  std::size_t peak = 0;   // the first of equal maxima
  std::size_t count = 0;  // values reduced
};

SpectrumColumns SpectrumColumnsOf(std::span<const float> values, int width) {
  SpectrumColumns columns;
  const std::size_t n = values.size();
  if (n < 2 || width <= 0) return columns;
  columns.count = n;
  const std::size_t step = ColumnStep(n, width);

  float best = 0.0f;
  for (std::size_t i = 0; i < n; ++i) {
    if (values[i] > best) {  // strictly: the first of equal maxima wins
      best = values[i];
      columns.peak = i;
    }
  }
  std::size_t start = 0;
  for (int x = 0; start + step < n && x < width; ++x, start += step) {
    float sum = 0.0f;
    for (std::size_t i = start; i < start + step; ++i) sum += values[i];
    columns.averages.push_back(sum / static_cast<float>(step));
  }
  return columns;
}

PanelDrawing SpectrumThrough(PanelRect rect, const SpectrumColumns& columns, float peakHz, int dpi) {
  PanelDrawing drawing;
  drawing.primitives.push_back(FillBackground{rect});
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (columns.count == 0) return drawing;

  Stroke curve{{PenStyle::Solid, ScaleToDpi(1, dpi), CURVE_COLOUR}, {}};
  for (std::size_t x = 0; x < columns.averages.size(); ++x) {
    curve.points.push_back({rect.left + static_cast<int>(x),
                            rect.top + Truncate((1.0f - columns.averages[x]) * static_cast<float>(height - 2))});
  }
  drawing.primitives.push_back(std::move(curve));

  const int markerX = rect.left + Truncate(static_cast<float>(width * static_cast<int>(columns.peak)) /
                                           static_cast<float>(columns.count));
  drawing.primitives.push_back(Stroke{
      {PenStyle::Solid, ScaleToDpi(2, dpi), PEAK_COLOUR}, {{markerX, rect.top}, {markerX, rect.bottom}}});

  wchar_t text[64];
  const int length =
      std::swprintf(text, std::size(text), L"Peak: %.1f Hz", static_cast<double>(peakHz));
  drawing.primitives.push_back(Label{{rect.right - ScaleToDpi(120, dpi), rect.top + ScaleToDpi(2, dpi)},
                                     PEAK_COLOUR,
                                     std::wstring(text, length > 0 ? static_cast<std::size_t>(length) : 0)});
  drawing.drewData = true;
  return drawing;
}

}  // namespace

int ScaleToDpi(int value, int dpi) {
  const long long scaled = static_cast<long long>(value) * dpi;
  return static_cast<int>((scaled + (scaled < 0 ? -BASE_DPI / 2 : BASE_DPI / 2)) / BASE_DPI);
}

std::wstring DbfsText(float peak) {
  if (!(peak > 0.0f)) return L"-inf dBFS";
  wchar_t text[32];
  std::swprintf(text, std::size(text), L"%.1f dBFS", 20.0 * std::log10(static_cast<double>(peak)));
  // Just below full scale rounds to zero, without a sign.
  return std::wcscmp(text, L"-0.0 dBFS") == 0 ? L"0.0 dBFS" : text;
}

std::wstring LevelAccessibleText(float peak, bool clipped) {
  return L"Level: peak " + DbfsText(peak) + (clipped ? L", clipped" : L"");
}

std::wstring CurrentLevelAccessibleText() {
  return LevelAccessibleText(peakLevel.load(), clippedPackets.load() != 0);
}

PanelDrawing LevelPanel(PanelRect rect, float level, float peak, bool clipped, int dpi) {
  PanelDrawing drawing;
  drawing.primitives.push_back(FillBackground{rect});
  const int width = rect.right - rect.left;
  PanelRect bar = rect;
  bar.right = rect.left + Truncate(static_cast<float>(width) * level);
  drawing.primitives.push_back(FillSolid{bar, LEVEL_COLOUR});
  drawing.drewData = true;
  if (width <= 0) return drawing;

  // The peak on the bar's own scale; full scale on the last column.
  if (peak > 0.0f) {
    const int x = std::min(rect.left + Truncate(static_cast<float>(width) * peak), rect.right - 1);
    drawing.primitives.push_back(
        Stroke{{PenStyle::Solid, ScaleToDpi(1, dpi), LEVEL_PEAK_COLOUR}, {{x, rect.top}, {x, rect.bottom}}});
  }
  const int clipWidth = ScaleToDpi(6, dpi);
  if (clipped) {
    drawing.primitives.push_back(
        FillSolid{{rect.right - clipWidth, rect.top, rect.right, rect.bottom}, CLIP_COLOUR});
  }
  drawing.primitives.push_back(Label{{rect.right - clipWidth - ScaleToDpi(4, dpi), rect.top + ScaleToDpi(2, dpi)},
                                     LEVEL_PEAK_COLOUR,
                                     DbfsText(peak),
                                     true});
  return drawing;
}

PanelDrawing WaveformPanel(PanelRect rect, std::span<const std::int16_t> samples, int dpi) {
  return WaveformThrough(rect, ColumnRanges(samples, rect.right - rect.left), dpi);
}

PanelDrawing SpectrumPanel(PanelRect rect, std::span<const float> values, float peakHz, int dpi) {
  return SpectrumThrough(rect, SpectrumColumnsOf(values, rect.right - rect.left), peakHz, dpi);
}

PanelDrawing CurrentLevelPanel(PanelRect rect, int dpi) {
  return LevelPanel(rect, levelValue.load(), peakLevel.load(), clippedPackets.load() != 0, dpi);
}

PanelDrawing CurrentWaveformPanel(PanelRect rect, int dpi) {
  // Copied whole under the lock, in a few block copies, and reduced after
  // it is released: the recording thread waits for the copy only. UI thread
  // only; kept from paint to paint, so that a paint allocates nothing.
  static std::vector<std::int16_t> samples;
  {
    std::lock_guard lock(displayMutex);
    samples.assign(leftDisplay.begin(), leftDisplay.end());
  }
  return WaveformPanel(rect, samples, dpi);
}

PanelDrawing CurrentSpectrumPanel(PanelRect rect, int dpi) {
  // Reduced under the lock rather than copied: a paint then allocates a few
  // hundred averages instead of 128 KiB. The analysis worker takes the lock
  // only to exchange the spectrum, a few times a second, and may wait for
  // one reduction.
  SpectrumColumns columns;
  {
    std::lock_guard lock(spectrumMutex);
    columns = SpectrumColumnsOf(spectrum, rect.right - rect.left);
  }
  return SpectrumThrough(rect, columns, peakFrequencyHz.load(), dpi);
}
