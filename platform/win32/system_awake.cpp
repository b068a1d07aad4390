#include <windows.h>

#include "capture/system_awake.h"

void KeepSystemAwake(bool awake) {
  // ES_CONTINUOUS makes it hold until the next such call from this thread;
  // ES_SYSTEM_REQUIRED alone would only reset the idle timer once.
  SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}
