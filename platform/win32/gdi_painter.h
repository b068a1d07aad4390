#pragma once

#include <windows.h>

// The window's DPI: GetDpiForWindow where Windows has it (10, 1607 on), the
// screen's otherwise, and for no window.
UINT WindowDpi(HWND window);

// WM_DRAWITEM for the three panels: the panel's drawing, executed with GDI on
// the item's device context. Returns TRUE when the panel's data was drawn.
BOOL DrawLevelPanel(const DRAWITEMSTRUCT* item);
BOOL DrawWaveformPanel(const DRAWITEMSTRUCT* item);
BOOL DrawSpectrumPanel(const DRAWITEMSTRUCT* item);
