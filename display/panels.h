#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

// The arithmetic of the three owner-drawn panels. Each panel becomes a list
// of drawing primitives that the platform's painter executes in order, one
// GDI call sequence per primitive.

struct PanelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct PanelPoint {
  int x = 0;
  int y = 0;
  bool operator==(const PanelPoint&) const = default;
};

using Colour = std::uint32_t;  // 0x00BBGGRR, as a COLORREF

constexpr Colour LEVEL_COLOUR = 0x0000C800;        // 0, 200, 0
constexpr Colour CENTRE_LINE_COLOUR = 0x00B4B4B4;  // 180, 180, 180
constexpr Colour TRACE_COLOUR = 0x00FF9600;        // 0, 150, 255
constexpr Colour CURVE_COLOUR = 0x003C78DC;        // 220, 120, 60
constexpr Colour PEAK_COLOUR = 0x002828FF;         // 255, 40, 40
constexpr Colour LEVEL_PEAK_COLOUR = 0x00005000;   // 0, 80, 0: the level's peak mark and its label
constexpr Colour CLIP_COLOUR = 0x002828FF;         // the clip light, red as the spectrum's peak

enum class PenStyle { Solid, Dot };

struct Pen {
  PenStyle style = PenStyle::Solid;
  int width = 1;
  Colour colour = 0;
};

// The rectangle in the button-face system colour.
struct FillBackground {
  PanelRect rect;
};

// The rectangle in a solid brush of the colour.
struct FillSolid {
  PanelRect rect;
  Colour colour = 0;
};

// Move to the first point, then a line to each following one (each line
// excludes its end point), with the pen selected for this primitive only.
struct Stroke {
  Pen pen;
  std::vector<PanelPoint> points;
};

// Text with its top-left corner at the point (its top-right corner when
// alignRight, the middle of its top when centred), transparent background,
// in the panel's font.
struct Label {
  PanelPoint at;
  Colour colour = 0;
  std::wstring text;
  bool alignRight = false;
  bool centred = false;
};

// An image the view keeps (0x00RRGGBB pixels, rows top-down, `stride`
// pixels a row) copied to rect: rect's width of it from column sourceLeft,
// its height from row 0. The image outlives the paint of the drawing.
struct Bitmap {
  PanelRect rect;
  const std::uint32_t* pixels = nullptr;
  int stride = 0;
  int sourceLeft = 0;
};

using Primitive = std::variant<FillBackground, FillSolid, Stroke, Label, Bitmap>;

struct PanelDrawing {
  std::vector<Primitive> primitives;
  bool drewData = false;  // what WM_DRAWITEM returns: TRUE when the data was drawn
};

// The DPI the window's geometry is given for; every other DPI scales it.
constexpr int BASE_DPI = 96;
// A length at 96 DPI scaled to dpi as MulDiv does: rounded half away from zero.
int ScaleToDpi(int value, int dpi);

// A peak magnitude (1 is full scale) as the level panel labels it:
// "-6.0 dBFS", "-inf dBFS" for silence.
std::wstring DbfsText(float peak);
// The level panel's text for screen readers: "Level: peak -12.0 dBFS",
// with ", clipped" while the clip light is on; from the shared state.
std::wstring LevelAccessibleText(float peak, bool clipped);
std::wstring CurrentLevelAccessibleText();

// The panels drawn in rect, in a window of the given DPI: pen widths, the
// clip light and the labels' offsets are their 96-DPI values scaled;
// everything else follows from the rectangle.
// The level panel: the RMS level as a bar, the peak as a mark on the same
// scale with its label, and a clip light at the right end while clipped.
PanelDrawing LevelPanel(PanelRect rect, float level, float peak = 0.0f, bool clipped = false, int dpi = BASE_DPI);
// The waveform: where a column covers two samples or more, the span from
// the smallest to the largest of them, joined to the next column's.
PanelDrawing WaveformPanel(PanelRect rect, std::span<const std::int16_t> samples, int dpi = BASE_DPI);
PanelDrawing SpectrumPanel(PanelRect rect, std::span<const float> values, float peakHz, int dpi = BASE_DPI);

// The same panels from the shared state: one atomic load, or a copy of what
// the panel draws, made under the container's mutex and drawn after it is
// released.
PanelDrawing CurrentLevelPanel(PanelRect rect, int dpi = BASE_DPI);
PanelDrawing CurrentWaveformPanel(PanelRect rect, int dpi = BASE_DPI);
PanelDrawing CurrentSpectrumPanel(PanelRect rect, int dpi = BASE_DPI);
