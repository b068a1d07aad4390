#include <windows.h>

#include "platform/win32/win32_handles.h"
#include "state/notifier.h"

void PostNotification(WindowHandle target, unsigned message) {
  HWND window = ToHwnd(target);
  if (message == WM_UPDATE_VISUALS) {
    if (!ClaimVisualsPost()) return;  // the one waiting draws this state too
    if (!PostMessageW(window, message, 0, 0)) ReleaseVisualsPost();
    return;
  }
  // A full queue (ERROR_NOT_ENOUGH_QUOTA) is waited out; a window that has
  // gone hears nothing more.
  while (!PostMessageW(window, message, 0, 0) && GetLastError() == ERROR_NOT_ENOUGH_QUOTA && IsWindow(window)) {
    Sleep(10);
  }
}
