#include "display/panels.h"

#include <cwchar>
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

// The samples the trace passes through, one per column: every step-th from
// the first. None when there are fewer than two samples.
template <typename Samples>
std::vector<std::int16_t> ColumnSamples(const Samples& samples, int width) {
  std::vector<std::int16_t> columns;
  const std::size_t n = samples.size();
  if (n < 2 || width <= 0) return columns;
  const std::size_t step = ColumnStep(n, width);
  for (std::size_t x = 0; x * step < n && x < static_cast<std::size_t>(width); ++x) {
    columns.push_back(samples[x * step]);
  }
  return columns;
}

PanelDrawing WaveformThrough(PanelRect rect, std::span<const std::int16_t> columns, int dpi) {
  PanelDrawing drawing;
  drawing.primitives.push_back(FillBackground{rect});
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return drawing;  // nothing to draw on

  const int mid = (rect.top + rect.bottom) / 2;
  drawing.primitives.push_back(
      Stroke{{PenStyle::Dot, ScaleToDpi(1, dpi), CENTRE_LINE_COLOUR}, {{rect.left, mid}, {rect.right, mid}}});
  if (columns.empty()) return drawing;

  Stroke trace{{PenStyle::Solid, ScaleToDpi(1, dpi), TRACE_COLOUR}, {}};
  for (std::size_t x = 0; x < columns.size(); ++x) {
    trace.points.push_back({rect.left + static_cast<int>(x), WaveformRow(columns[x], mid, height)});
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

PanelDrawing LevelPanel(PanelRect rect, float level) {
  PanelDrawing drawing;
  drawing.primitives.push_back(FillBackground{rect});
  const int width = rect.right - rect.left;
  PanelRect bar = rect;
  bar.right = rect.left + Truncate(static_cast<float>(width) * level);
  drawing.primitives.push_back(FillSolid{bar, LEVEL_COLOUR});
  drawing.drewData = true;
  return drawing;
}

PanelDrawing WaveformPanel(PanelRect rect, std::span<const std::int16_t> samples, int dpi) {
  return WaveformThrough(rect, ColumnSamples(samples, rect.right - rect.left), dpi);
}

PanelDrawing SpectrumPanel(PanelRect rect, std::span<const float> values, float peakHz, int dpi) {
  return SpectrumThrough(rect, SpectrumColumnsOf(values, rect.right - rect.left), peakHz, dpi);
}

PanelDrawing CurrentLevelPanel(PanelRect rect) { return LevelPanel(rect, levelValue.load()); }

PanelDrawing CurrentWaveformPanel(PanelRect rect, int dpi) {
  // Only the samples the trace passes through are copied: a few hundred of
  // the 65536, so the recording thread waits for the lock no longer.
  std::vector<std::int16_t> columns;
  {
    std::lock_guard lock(displayMutex);
    columns = ColumnSamples(leftDisplay, rect.right - rect.left);
  }
  return WaveformThrough(rect, columns, dpi);
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
