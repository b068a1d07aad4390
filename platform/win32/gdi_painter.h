#pragma once

#include <windows.h>

// WM_DRAWITEM for the three panels: the panel's drawing, executed with GDI on
// the item's device context, for a window of the given DPI. Returns TRUE
// when the panel's data was drawn.
BOOL DrawLevelPanel(const DRAWITEMSTRUCT* item, int dpi);
BOOL DrawWaveformPanel(const DRAWITEMSTRUCT* item, int dpi);
BOOL DrawSpectrumPanel(const DRAWITEMSTRUCT* item, int dpi);
// A copy of the spectrum panel as it was last drawn, for the clipboard;
// null when it has not been drawn or the system has no bitmap to give.
HBITMAP SpectrumPanelPicture(HDC screen);
