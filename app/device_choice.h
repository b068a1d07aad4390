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

// The endpoint id of the device the user chose; empty for "Default device",
// whichever device Windows has as its default at Start. UI thread only.
const std::wstring& ChosenDeviceId();

// At the program's start: the choice of the last run.
void LoadDeviceChoice(WindowOps& window);

// False when the chosen device is not among devices (the active ones): the
// choice is "Default device" then, for the rest of this run, and the status
// line says so. The remembered choice stays for the next start.
bool KeepDeviceChoiceCurrent(WindowOps& window, const std::vector<RecordingDevice>& devices);
// The same against the devices active now, which are asked for only when
// a device is chosen: "Default device" is always there.
bool KeepDeviceChoiceCurrent(WindowOps& window);

// "Default device", then each device, the chosen one checked; every entry
// disabled unless the choice may change now.
std::vector<DeviceMenuItem> DeviceMenu(const std::vector<RecordingDevice>& devices, bool mayChange);

// The user picked entry index of DeviceMenu(devices): chosen, remembered,
// and named on the status line.
void ChooseDevice(WindowOps& window, const std::vector<RecordingDevice>& devices, int index);
