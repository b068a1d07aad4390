#pragma once

#include "state/notifier.h"

// A modal error message owned by the window; returns once it is dismissed.
// The platform defines it (MessageBoxW with MB_ICONERROR on Windows).
void ShowErrorBox(WindowHandle owner, const wchar_t* text, const wchar_t* caption);
