#include "display/spectrogram_view.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <iterator>
#include <limits>
#include <mutex>

namespace {

constexpr float SILENCE = -std::numeric_limits<float>::infinity();
// What the axes span before any column has said the rate.
constexpr double DEFAULT_RATE = 48000.0;

}  // namespace

std::vector<RowBins> RowMap(const FrequencyAxis& axis, double binHz, std::size_t bins) {
  const int rows = axis.Pixels();
  std::vector<RowBins> map(static_cast<std::size_t>(std::max(rows, 0)));
  if (bins == 0) return map;
  const auto clamped = [&](double bin) {
    return static_cast<std::uint32_t>(std::clamp(bin, 0.0, static_cast<double>(bins - 1)));
  };
  for (int y = 0; y < rows; ++y) {
    // The row spans the axis's pixels rows - 1 - y to rows - y, counted up
    // from the low end; it holds the bins whose centres lie in that span.
    const double low = axis.ToHz(rows - 1 - y) / binHz, high = axis.ToHz(rows - y) / binHz;
    const double first = std::ceil(low), last = std::ceil(high) - 1.0;
    RowBins& row = map[static_cast<std::size_t>(y)];
    if (last < first) {
      row.first = row.last = clamped(std::round(axis.ToHz(rows - y - 0.5) / binHz));
    } else {
      row.first = clamped(first);
      row.last = clamped(last);
    }
  }
  return map;
}

std::vector<AxisTick> TimeTicks(double historySeconds, int width, int labelPixels) {
  std::vector<AxisTick> ticks;
  if (width <= 0 || historySeconds <= 0.0) return ticks;
  const double perSecond = width / historySeconds;
  double step = 60.0;
  for (const double s : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0}) {
    if (s * perSecond >= labelPixels) {
      step = s;
      break;
    }
  }
  for (int k = 0;; ++k) {
    const double seconds = k * step;
    if (seconds > historySeconds + 1e-9) break;
    wchar_t label[16];
    if (k == 0) {
      std::swprintf(label, std::size(label), L"now");
    } else {
      std::swprintf(label, std::size(label), L"-%g s", seconds);
    }
    ticks.push_back({-seconds, static_cast<int>(std::lround(width - seconds * perSecond)), label});
  }
  return ticks;
}

std::wstring AgoText(double seconds) {
  wchar_t text[32];
  std::swprintf(text, std::size(text), L"%.1f s ago", seconds);
  return text;
}

SpectrogramView::Geometry SpectrogramView::MakeGeometry(PanelRect rect, double rate, std::uint32_t points,
                                                        const SpectrumChoices& choices, TextSize text,
                                                        int dpi) const {
  Geometry g;
  g.rect = rect;
  g.text = text;
  g.choices = choices;
  g.choices.freeze = g.choices.holdPeaks = false;
  g.dpi = dpi;
  g.rate = rate;
  g.points = points;
  const int cw = text.charWidth, th = text.height;
  // Room for the frequency labels on the left, the time labels below, the
  // peak and the readout above, and the colour bar with its labels on the right.
  g.plot = {rect.left + 5 * cw, rect.top + th + ScaleToDpi(4, dpi), rect.right - 8 * cw,
            rect.bottom - th - ScaleToDpi(4, dpi)};
  g.plot.right = std::max(g.plot.right, g.plot.left + 1);
  g.plot.bottom = std::max(g.plot.bottom, g.plot.top + 1);
  g.bar = {g.plot.right + cw, g.plot.top, g.plot.right + 2 * cw, g.plot.bottom};
  const int w = g.plot.right - g.plot.left, h = g.plot.bottom - g.plot.top;
  const double nyquist = (rate > 0.0 ? rate : DEFAULT_RATE) / 2.0;
  g.frequency = choices.logarithmic ? FrequencyAxis(true, LOG_AXIS_LOW_HZ, nyquist, h)
                                    : FrequencyAxis(false, 0.0, nyquist, h);
  g.level = LevelAxis(choices.floorDb, h);
  g.timeline = {w, std::max(choices.historySeconds * (rate > 0.0 ? rate : DEFAULT_RATE) / w, 1e-9)};
  g.frequencyTicks = g.frequency.Ticks(th + ScaleToDpi(4, dpi));
  g.levelTicks = g.level.Ticks(th + ScaleToDpi(2, dpi));
  g.timeTicks = TimeTicks(choices.historySeconds, w, 6 * cw);
  if (rate > 0.0 && points >= 2) g.rows = RowMap(g.frequency, rate / points, points / 2);
  return g;
}

void SpectrogramView::Clear() {
  std::fill(levels.begin(), levels.end(), SILENCE);
  std::fill(pixels.begin(), pixels.end(), ColourMap()[0]);
  head = width - 1;
  newest = -1;
  newestSample = 0;
  filled = 0;
}

void SpectrogramView::Fit(PanelRect rect, double rate, std::uint32_t points, const SpectrumChoices& choices,
                          TextSize text, int dpi) {
  SpectrumChoices shape = choices;
  shape.freeze = shape.holdPeaks = false;
  const Geometry& old = geometry;
  if (old.dpi == dpi && old.rect.left == rect.left && old.rect.top == rect.top && old.rect.right == rect.right &&
      old.rect.bottom == rect.bottom && old.rate == rate && old.points == points && old.choices == shape &&
      old.text.charWidth == text.charWidth && old.text.height == text.height) {
    return;
  }
  Geometry g = MakeGeometry(rect, rate, points, choices, text, dpi);
  const int w = g.plot.right - g.plot.left, h = g.plot.bottom - g.plot.top;
  std::vector<float> kept(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), SILENCE);
  int keptColumns = 0;
  // A take of another rate starts afresh; otherwise each new pixel takes
  // the old one at its frequency and its time ago.
  if (newest >= 0 && old.rate == rate && width > 0) {
    std::vector<int> oldRow(static_cast<std::size_t>(h), -1);
    for (int y = 0; y < h; ++y) {
      const double hz = g.frequency.ToHz(h - y - 0.5);
      const double pixel = old.frequency.ToPixel(hz);
      const int row = height - 1 - static_cast<int>(std::floor(pixel));
      if (pixel >= 0.0 && row >= 0 && row < height) oldRow[static_cast<std::size_t>(y)] = row;
    }
    for (int age = 0; age < w; ++age) {
      const auto oldAge = static_cast<int>(std::lround(age * g.timeline.samplesPerColumn / old.timeline.samplesPerColumn));
      if (oldAge >= filled) break;
      ++keptColumns;
      const int from = SpectrogramTimeline::SlotOf(oldAge, head, width), to = w - 1 - age;
      for (int y = 0; y < h; ++y) {
        const int row = oldRow[static_cast<std::size_t>(y)];
        if (row >= 0) kept[static_cast<std::size_t>(y * w + to)] = levels[static_cast<std::size_t>(row * width + from)];
      }
    }
  }
  const bool keep = keptColumns > 0;
  geometry = std::move(g);
  width = w;
  height = h;
  levels = std::move(kept);
  pixels.resize(levels.size());
  for (std::size_t i = 0; i < levels.size(); ++i) pixels[i] = LevelColour(levels[i], static_cast<float>(choices.floorDb));
  barPixels.resize(static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y) {
    barPixels[static_cast<std::size_t>(y)] =
        LevelColour(static_cast<float>(geometry.level.ToDb(y + 0.5)), static_cast<float>(choices.floorDb));
  }
  head = w - 1;
  filled = keptColumns;
  if (keep) {
    newest = geometry.timeline.ColumnOf(newestSample);
  } else {
    newest = -1;
    newestSample = 0;
  }
}

void SpectrogramView::Advance(std::int64_t index) {
  const std::int64_t steps = index - newest;
  for (std::int64_t s = 0; s < std::min<std::int64_t>(steps, width); ++s) {
    head = (head + 1) % width;
    for (int y = 0; y < height; ++y) {
      levels[static_cast<std::size_t>(y * width + head)] = SILENCE;
      pixels[static_cast<std::size_t>(y * width + head)] = ColourMap()[0];
    }
  }
  filled = static_cast<int>(std::min<std::int64_t>(width, filled + steps));
  newest = index;
}

void SpectrogramView::Add(const SpectrogramColumn& column) {
  if (width <= 0 || height <= 0 || geometry.rows.empty()) return;
  const std::uint64_t centre = column.firstSample + column.points / 2;
  const std::int64_t index = geometry.timeline.ColumnOf(centre);
  if (newest < 0 || index < newest - width) {
    // The first column, or one from before everything shown: a new take.
    Clear();
    newest = index;
    filled = 1;
  } else if (index > newest) {
    Advance(index);
  } else if (index <= newest - width) {
    return;  // older than the history
  }
  newestSample = std::max(newestSample, centre);
  const int slot = SpectrogramTimeline::SlotOf(newest - index, head, width);
  const float floorDb = static_cast<float>(geometry.choices.floorDb);
  // A column that covers several frames shows each frequency's loudest.
  for (int y = 0; y < height; ++y) {
    const RowBins& row = geometry.rows[static_cast<std::size_t>(y)];
    float loudest = SILENCE;
    for (std::uint32_t bin = row.first; bin <= row.last && bin < column.dbfs.size(); ++bin) {
      loudest = std::max(loudest, column.dbfs[bin]);
    }
    const std::size_t at = static_cast<std::size_t>(y * width + slot);
    if (loudest > levels[at]) {
      levels[at] = loudest;
      pixels[at] = LevelColour(loudest, floorDb);
    }
  }
}

PanelDrawing SpectrogramView::Draw(PanelRect rect, std::vector<SpectrogramColumn> fresh, const SpectrumLevels& spectrumNow,
                                   const SpectrumChoices& choices, TextSize text, int dpi) {
  large = true;
  frozen = choices.freeze;
  if (!frozen) {
    shownLevels = spectrumNow;
    for (const SpectrogramColumn& column : fresh) {
      Fit(rect, column.rate, column.points, choices, text, dpi);
      Add(column);
    }
  }
  Fit(rect, geometry.rate, geometry.points, choices, text, dpi);
  return Render();
}

PanelDrawing SpectrogramView::DrawCurrent(PanelRect rect, const SpectrumChoices& choices, TextSize text, int dpi) {
  std::vector<SpectrogramColumn> fresh;
  {
    std::lock_guard lock(spectrogramMutex);
    fresh.assign(std::make_move_iterator(spectrogramColumns.begin()), std::make_move_iterator(spectrogramColumns.end()));
    spectrogramColumns.clear();
  }
  SpectrumLevels now;
  {
    std::lock_guard lock(spectrumMutex);
    now = spectrumLevels;
  }
  return Draw(rect, std::move(fresh), now, choices, text, dpi);
}

PanelDrawing SpectrogramView::Render() const {
  PanelDrawing drawing;
  const Geometry& g = geometry;
  const PanelRect& plot = g.plot;
  const int th = g.text.height, cw = g.text.charWidth;
  drawing.primitives.push_back(FillBackground{g.rect});
  if (width > 0 && height > 0) {
    // Oldest first: the slots after the newest, then those up to it.
    const int oldest = (head + 1) % width;
    const int firstPart = width - oldest;
    drawing.primitives.push_back(Bitmap{{plot.left, plot.top, plot.left + firstPart, plot.bottom}, pixels.data(), width, oldest});
    if (oldest > 0) {
      drawing.primitives.push_back(Bitmap{{plot.left + firstPart, plot.top, plot.right, plot.bottom}, pixels.data(), width, 0});
    }
    drawing.primitives.push_back(Bitmap{g.bar, barPixels.data(), 1, 0});
  }
  const Pen tickPen{PenStyle::Solid, 1, AXIS_TEXT_COLOUR};
  const int tick = ScaleToDpi(3, g.dpi);
  for (const AxisTick& t : g.frequencyTicks) {
    const int y = plot.bottom - t.pixel;
    if (t.label.empty()) continue;
    drawing.primitives.push_back(Stroke{tickPen, {{plot.left - tick, y}, {plot.left, y}}});
    drawing.primitives.push_back(Label{{plot.left - tick - cw / 2, y - th / 2}, AXIS_TEXT_COLOUR, t.label, true});
  }
  for (const AxisTick& t : g.timeTicks) {
    const int x = plot.left + t.pixel;
    drawing.primitives.push_back(Stroke{tickPen, {{x, plot.bottom}, {x, plot.bottom + tick}}});
    drawing.primitives.push_back(Label{{x, plot.bottom + ScaleToDpi(2, g.dpi)}, AXIS_TEXT_COLOUR, t.label, false, true});
  }
  for (const AxisTick& t : g.levelTicks) {
    const int y = g.bar.top + t.pixel;
    drawing.primitives.push_back(Label{{g.bar.right + cw / 2, y - th / 2}, AXIS_TEXT_COLOUR, t.label});
  }
  const std::optional<std::wstring> readout = CursorText();
  if (readout) {
    drawing.primitives.push_back(Label{{plot.left, g.rect.top + ScaleToDpi(2, g.dpi)}, AXIS_TEXT_COLOUR, *readout});
  }
  if (shownLevels.rate > 0.0) {
    std::wstring peak = PeakReadout(shownLevels.peakHz, shownLevels.peakDbfs);
    if (frozen) peak += L"   Frozen";
    drawing.primitives.push_back(Label{{g.rect.right - cw, g.rect.top + ScaleToDpi(2, g.dpi)}, PEAK_COLOUR, peak, true});
  }
  drawing.drewData = filled > 0;
  return drawing;
}

std::optional<std::wstring> SpectrogramView::CursorText() const {
  if (!large || !cursor || width <= 0 || height <= 0) return std::nullopt;
  const int x = geometry.rect.left + cursor->x - geometry.plot.left;
  const int y = geometry.rect.top + cursor->y - geometry.plot.top;
  if (x < 0 || x >= width || y < 0 || y >= height) return std::nullopt;
  const int age = width - 1 - x;
  const float db = age < filled ? levels[static_cast<std::size_t>(y * width + SpectrogramTimeline::SlotOf(age, head, width))]
                                : SILENCE;
  const double hz = geometry.frequency.ToHz(height - y - 0.5);
  const double seconds = age * geometry.timeline.samplesPerColumn / (geometry.rate > 0.0 ? geometry.rate : DEFAULT_RATE);
  return CursorReadout(hz, static_cast<double>(db)) + L", " + AgoText(seconds);
}

std::wstring SpectrogramView::AccessibleText() const {
  std::wstring text = L"Spectrogram";
  if (shownLevels.rate > 0.0) text += L": peak " + PeakReadout(shownLevels.peakHz, shownLevels.peakDbfs).substr(6);
  if (const auto readout = CursorText()) text += L"; cursor " + *readout;
  return text;
}
