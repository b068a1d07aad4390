#pragma once

#include <windows.h>

#include "state/notifier.h"

// The core keeps window handles opaque; these convert at the boundary.
inline WindowHandle ToWindowHandle(HWND window) { return reinterpret_cast<WindowHandle>(window); }
inline HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
