#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "display/panels.h"
#include "display/spectrum_axes.h"
#include "state/recorder_state.h"

// The spectrum panel from 100 pixels tall on (at 96 DPI, scaled): an
// analyser's view, in dBFS against a labelled frequency axis, with the
// precise peak, the frequency under the mouse, held peaks and freezing.
// Below that it draws the compact view, as SpectrumPanel does.

// What the user chose for the view. The menu, the drawing and the readout
// read it; app/ loads and saves it.
struct SpectrumChoices {
  bool logarithmic = true;  // the frequency axis; linear from 0 otherwise
  bool dbfs = true;         // levels in dBFS; the compact view's 0 to 1 scale otherwise
  int floorDb = -120;       // the dB axis's bottom: -90, -120 or -150
  bool holdPeaks = false;   // a second trace of each point's highest level
  bool freeze = false;      // the view stops changing; the recording goes on
  bool spectrogram = false;          // the large view as a spectrogram
  std::uint32_t frameMultiple = 1;   // the spectrogram's frames: this many times about 5 ms
  int historySeconds = 10;           // the time across the spectrogram: 2, 5, 10 or 30
  bool operator==(const SpectrumChoices&) const = default;
};

// The panel font's size, as the platform measures it.
struct TextSize {
  int charWidth = 7;  // an average character
  int height = 15;
};

constexpr Colour GRID_COLOUR = 0x00DCDCDC;    // 220, 220, 220
constexpr Colour AXIS_TEXT_COLOUR = 0x00505050;
constexpr Colour HOLD_COLOUR = 0x00A0A0F0;    // 240, 160, 160: the held peaks, under the curve's colour
constexpr Colour CURSOR_COLOUR = 0x00808080;

// Whether a panel of this size draws the large view.
bool IsLargeSpectrum(PanelRect rect, int dpi);

// The lowest frequency on the logarithmic axis.
constexpr double LOG_AXIS_LOW_HZ = 20.0;

// One spectrum panel's large view. UI thread only.
class SpectrumView {
 public:
  // The newest spectrum drawn through the view: its geometry made again
  // only when the panel's size, the text's size, the rate or the choices
  // change; the held peaks go when holding is switched on, at Start (the
  // spectrum emptied) and when the geometry changes. Frozen, it draws the
  // spectrum it had when frozen.
  PanelDrawing Draw(PanelRect rect, std::span<const float> values, const SpectrumLevels& levels,
                    const SpectrumChoices& choices, TextSize text, int dpi);
  // The same from the shared state: the values reduced to the curve's
  // points under the spectrum's lock.
  PanelDrawing DrawCurrent(PanelRect rect, const SpectrumChoices& choices, TextSize text, int dpi);

  // The mouse at column x of the panel (from its left), or gone.
  void SetCursor(std::optional<int> x) { cursor = x; }
  // What the readout says at the cursor, from the latest drawing: the
  // frequency at its column and the level the curve draws there; nothing
  // when the cursor is off the plot or the view is not drawn large.
  std::optional<std::wstring> CursorText() const;
  // The panel's text for screen readers: "Spectrum: peak 440.00 Hz,
  // -12.0 dBFS", with "; cursor ..." while the mouse is over the plot.
  std::wstring AccessibleText() const;
  // The spectrum drawn last (the frozen one while frozen) as text for a
  // spreadsheet: a header line, then a line a bin, its frequency in Hz and
  // its level in dBFS, tab-separated.
  std::wstring SpectrumText() const;

 private:
  struct Geometry {
    PanelRect rect;
    TextSize text;
    double rate = 0.0;
    SpectrumChoices choices;  // freeze and hold aside
    int dpi = 0;
    PanelRect plot;
    FrequencyAxis frequency;
    LevelAxis level;
    std::vector<AxisTick> frequencyTicks, levelTicks;
    std::vector<CurvePoint> curve;
  };
  void MakeGeometry(PanelRect rect, double rate, const SpectrumChoices& choices, TextSize text, int dpi);
  // The newest values (or the frozen ones) reduced to the curve's points.
  void Update(PanelRect rect, std::span<const float> values, const SpectrumLevels& levels,
              const SpectrumChoices& choices, TextSize text, int dpi);
  PanelDrawing Render() const;
  // A normalised value's row in the plot, on the scale chosen.
  int RowOf(float value) const;

  Geometry geometry;
  bool large = false;
  bool hasData = false;
  std::vector<float> pointValues;  // the largest normalised value of each curve point
  std::vector<double> heldDb;      // the highest level of each point since held peaks began
  bool holding = false;
  std::vector<float> frozenSpectrum;  // the whole spectrum, while frozen
  SpectrumLevels frozenLevels;
  bool frozen = false;
  SpectrumLevels shownLevels;  // of what is drawn
  std::optional<int> cursor;
};
