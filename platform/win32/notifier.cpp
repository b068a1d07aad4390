#include <windows.h>

#include "platform/win32/win32_handles.h"
#include "state/notifier.h"

void PostNotification(WindowHandle target, unsigned message) {
  PostMessageW(ToHwnd(target), message, 0, 0);  // a message that cannot be posted is dropped
}
