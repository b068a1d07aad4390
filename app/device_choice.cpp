#include "app/device_choice.h"

#include <algorithm>
#include <cstddef>

#include "app/commands.h"

namespace {

// The device the user chose; an empty id is "Default device". UI thread only.
RecordingDevice chosenDevice;

// The choice under HKCU\Software\Vellora, by endpoint id, with the name kept
// for what the user reads.
const wchar_t* const DEVICE_SETTING = L"RecordingDevice";
const wchar_t* const DEVICE_NAME_SETTING = L"RecordingDeviceName";

const wchar_t* const DEFAULT_DEVICE = L"Default device";

}  // namespace

const std::wstring& ChosenDeviceId() { return chosenDevice.id; }

void LoadDeviceChoice(WindowOps& window) {
  chosenDevice = {window.ReadSetting(DEVICE_SETTING), window.ReadSetting(DEVICE_NAME_SETTING)};
  KeepDeviceChoiceCurrent(window);
}

bool KeepDeviceChoiceCurrent(WindowOps& window) {
  return chosenDevice.id.empty() || KeepDeviceChoiceCurrent(window, window.ActiveRecordingDevices());
}

bool KeepDeviceChoiceCurrent(WindowOps& window, const std::vector<RecordingDevice>& devices) {
  if (chosenDevice.id.empty()) return true;
  const auto found = std::find_if(devices.begin(), devices.end(),
                                  [](const RecordingDevice& device) { return device.id == chosenDevice.id; });
  if (found != devices.end()) {
    chosenDevice.name = found->name;
    return true;
  }
  chosenDevice = {};
  window.SetStatusText(L"Microphone not connected: the default device is chosen.");
  return false;
}

std::vector<DeviceMenuItem> DeviceMenu(const std::vector<RecordingDevice>& devices, bool mayChange) {
  std::vector<DeviceMenuItem> items{{DEFAULT_DEVICE, chosenDevice.id.empty(), mayChange}};
  for (const RecordingDevice& device : devices) {
    items.push_back({device.name, device.id == chosenDevice.id, mayChange});
  }
  return items;
}

void ChooseDevice(WindowOps& window, const std::vector<RecordingDevice>& devices, int index) {
  if (index < 0 || static_cast<std::size_t>(index) > devices.size()) return;
  chosenDevice = index == 0 ? RecordingDevice{} : devices[static_cast<std::size_t>(index) - 1];
  window.WriteSetting(DEVICE_SETTING, chosenDevice.id);
  window.WriteSetting(DEVICE_NAME_SETTING, chosenDevice.name);
  window.SetStatusText(L"Microphone: " + (index == 0 ? std::wstring(DEFAULT_DEVICE) : chosenDevice.name));
}
