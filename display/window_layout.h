#pragma once

#include <string>

// Where the main window's controls go as the window grows past the size it
// first opens at (400 x 270 at 96 DPI, scaled): the buttons keep their
// place and size; the status line, the level bar and the waveform take the
// extra width; the spectrum the extra width and all the extra height. At
// the first size, and below it, every control is where its 96-DPI box,
// scaled, puts it, whatever the window's frame.

constexpr int FIRST_WINDOW_WIDTH = 400;   // at 96 DPI
constexpr int FIRST_WINDOW_HEIGHT = 270;

struct ControlBox {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const ControlBox&) const = default;
};

enum class Grows { No, InWidth, InWidthAndHeight };

// How far the client area has grown past the first size's, for a window of
// this outer size and client size (their difference is the frame, which
// the first size's client area had too).
struct Growth {
  int width = 0, height = 0;
};
Growth GrowthOf(int outerWidth, int outerHeight, int clientWidth, int clientHeight, int dpi);

// The control's box: its 96-DPI box scaled, grown as it grows.
ControlBox LaidOut(const ControlBox& at96, Grows grows, Growth growth, int dpi);

// The window's place as remembered between runs: its restored box in
// screen pixels at the window's DPI then, and whether it was maximised. As
// text: "x y width height maximised dpi", maximised 0 or 1.
struct WindowPlace {
  ControlBox box;
  bool maximised = false;
  int dpi = 96;
};
// Its box for a window of this DPI: the size scaled, no smaller than the
// first size.
ControlBox PlaceAtDpi(const WindowPlace& place, int dpi);
std::wstring WindowPlaceText(const WindowPlace& place);
// False for a text that is not one (nothing remembered yet, or spoilt).
bool ParseWindowPlace(const std::wstring& text, WindowPlace& place);
// The box moved onto the work area of the screen nearest it, and shrunk
// to fit where it is larger.
ControlBox KeptOnScreen(ControlBox box, const ControlBox& workArea);
