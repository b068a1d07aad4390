#include <windows.h>

#include "capture/error_box.h"
#include "platform/win32/win32_handles.h"
#include "state/notifier.h"

void PostNotification(WindowHandle target, unsigned message) {
  PostMessageW(ToHwnd(target), message, 0, 0);  // a message that cannot be posted is dropped
}

void ShowErrorBox(WindowHandle owner, const wchar_t* text, const wchar_t* caption) {
  MessageBoxW(ToHwnd(owner), text, caption, MB_ICONERROR);
}
