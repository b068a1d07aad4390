#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "display/colour_map.h"
#include "display/panels.h"
#include "display/spectrum_axes.h"
#include "display/spectrum_view.h"
#include "state/recorder_state.h"

// The large view as a spectrogram: time along x, the newest column at the
// right; frequency up along y on the spectrum's axis; the level as colour
// on its dBFS scale. The image is a ring of pixel columns: a new column is
// drawn once into it, and a paint copies it to the screen in two pieces,
// so that its cost does not grow with the history.

// Where the ring's columns stand: the history's time cut into `width`
// columns, each `samplesPerColumn` samples of the take; column index i
// holds the frames centred in [i, i + 1) times that. Pure arithmetic, for
// the ring and its tests.
struct SpectrogramTimeline {
  int width = 1;
  double samplesPerColumn = 1.0;
  std::int64_t ColumnOf(std::uint64_t centreSample) const {
    return static_cast<std::int64_t>(static_cast<double>(centreSample) / samplesPerColumn);
  }
  // The ring's slot of the column `age` columns older than the one in slot `head`.
  static int SlotOf(std::int64_t age, int head, int width) {
    return static_cast<int>(((head - age) % width + width) % width);
  }
};

// One row of the image: the bins it covers, first to last. Where a bin is
// taller than a row, the row shows the bin its middle lies in.
struct RowBins {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};
// Row 0 at the top (the axis's high end) to row axis.Pixels() - 1.
std::vector<RowBins> RowMap(const FrequencyAxis& axis, double binHz, std::size_t bins);

// "-10 s", "-5 s", ..., "now" every so many seconds that labels stay
// labelPixels apart; pixel from the plot's left.
std::vector<AxisTick> TimeTicks(double historySeconds, int width, int labelPixels);

// "2.4 s ago"
std::wstring AgoText(double seconds);

class SpectrogramView {
 public:
  // Takes the newest columns (unless frozen) and draws the view.
  PanelDrawing Draw(PanelRect rect, std::vector<SpectrogramColumn> fresh, const SpectrumLevels& levels,
                    const SpectrumChoices& choices, TextSize text, int dpi);
  // The same from the shared state: takes what the analysis has published.
  PanelDrawing DrawCurrent(PanelRect rect, const SpectrumChoices& choices, TextSize text, int dpi);
  // Forgets the history: a new take.
  void Clear();

  // The mouse at a point of the panel (from its top-left corner), or gone.
  void SetCursor(std::optional<PanelPoint> at) { cursor = at; }
  // "52000.0 Hz, -31.5 dBFS, 2.4 s ago" at the cursor; nothing off the plot.
  std::optional<std::wstring> CursorText() const;
  // "Spectrogram: peak 440.00 Hz, -12.0 dBFS", with "; cursor ..." while
  // the mouse is over the plot.
  std::wstring AccessibleText() const;
  // How many columns of the ring hold what the analysis gave (for tests).
  int FilledColumns() const { return filled; }

 private:
  struct Geometry {
    PanelRect rect;
    TextSize text;
    SpectrumChoices choices;  // freeze and hold aside
    int dpi = 0;
    double rate = 0.0;
    std::uint32_t points = 0;
    PanelRect plot, bar;
    FrequencyAxis frequency;
    LevelAxis level;
    SpectrogramTimeline timeline;
    std::vector<AxisTick> frequencyTicks, levelTicks, timeTicks;
    std::vector<RowBins> rows;
  };
  Geometry MakeGeometry(PanelRect rect, double rate, std::uint32_t points, const SpectrumChoices& choices,
                        TextSize text, int dpi) const;
  // Makes the geometry for what is to be drawn, keeping of the history
  // what fits: each new pixel takes the old one of its frequency and time.
  void Fit(PanelRect rect, double rate, std::uint32_t points, const SpectrumChoices& choices, TextSize text, int dpi);
  void Add(const SpectrogramColumn& column);
  void Advance(std::int64_t index);
  void Paint(int slot, int row);
  PanelDrawing Render() const;

  Geometry geometry;
  bool large = false;
  int width = 0, height = 0;     // the ring's
  std::vector<float> levels;     // dBFS, row by row; -infinity where nothing was heard
  std::vector<Pixel> pixels;     // their colours
  std::vector<Pixel> barPixels;  // the colour bar, one pixel wide, top (0 dBFS) down
  int head = 0;                  // the slot of the newest column
  std::int64_t newest = -1;      // its index; -1 before any column
  std::uint64_t newestSample = 0;
  int filled = 0;
  bool frozen = false;
  SpectrumLevels shownLevels;
  std::optional<PanelPoint> cursor;
};
