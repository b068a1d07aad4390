#pragma once

#include <string>
#include <vector>

class WindowOps;

// A recording device as Windows lists it.
struct RecordingDevice {
  std::wstring id;    // the endpoint id, the same at every start of Windows
  std::wstring name;  // the friendly name, as the menu shows it
};

// One entry of the device menu.
struct DeviceMenuItem {
  std::wstring text;
  bool checked = false;
  bool enabled = true;
};

// The endpoint id of the device the next recording records: the one the
// user chose, or empty for Windows' default at Start, when that is
// "Default device" or the chosen one is away. UI thread only.
const std::wstring& ChosenDeviceId();

// At the program's start: the choice of the last run, and on the status
// line what will record when it is not the default.
void LoadDeviceChoice(WindowOps& window);

// Against devices (the active ones), the chosen device is away or back:
// away, the default records and the status line says so, once; back, it
// records again and the status line says that. A device that was listed
// but could not be opened comes back only with Windows' news of a change
// (news), as the list that had it then may have it still. False only when
// the status line has just said the device is away. The choice itself
// stays, for this run and the next.
bool KeepDeviceChoiceCurrent(WindowOps& window, const std::vector<RecordingDevice>& devices, bool news = false);
// The same against the devices active now, which are asked for only when
// a device is chosen: "Default device" is always there.
bool KeepDeviceChoiceCurrent(WindowOps& window, bool news = false);
// The chosen device could not be opened because it is gone: away, as above.
void ChosenDeviceGone(WindowOps& window);

// "Default device", then each device, the chosen one checked; every entry
// disabled unless the choice may change now.
std::vector<DeviceMenuItem> DeviceMenu(const std::vector<RecordingDevice>& devices, bool mayChange);

// The user picked entry index of DeviceMenu(devices): chosen, remembered,
// and named on the status line.
void ChooseDevice(WindowOps& window, const std::vector<RecordingDevice>& devices, int index);
