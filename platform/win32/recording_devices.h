#pragma once

#include <windows.h>

#include <vector>

#include "app/device_choice.h"

// The active recording devices, each by endpoint id and friendly name; empty
// when Core Audio lists none or cannot be asked. COM must be initialized on
// the calling thread.
std::vector<RecordingDevice> ListRecordingDevices();

// From now until StopWatchingRecordingDevices, a device that comes or goes,
// changes its state, or becomes Windows' default for recording posts
// WM_DEVICES_CHANGED to window. UI thread only, with COM initialized.
void WatchRecordingDevices(HWND window);
void StopWatchingRecordingDevices();
