#include "app/device_choice.h"

#include <algorithm>
#include <cstddef>

#include "app/commands.h"

namespace {

// The device the user chose; an empty id is "Default device". UI thread only.
RecordingDevice chosenDevice;

// Why the chosen device does not record now, and so what brings it back.
// UI thread only.
enum class Absence {
  None,          // it records
  Unlisted,      // Windows does not list it: back when it does
  FailedToOpen,  // it was listed but could not be opened, as it was gone:
                 // back only when Windows tells of a change that lists it
};
Absence absence = Absence::None;

// The choice under HKCU\Software\Vellora, by endpoint id, with the name kept
// for what the user reads.
const wchar_t* const DEVICE_SETTING = L"RecordingDevice";
const wchar_t* const DEVICE_NAME_SETTING = L"RecordingDeviceName";

const wchar_t* const DEFAULT_DEVICE = L"Default device";
const wchar_t* const ELLIPSIS = L"\u2026";

// before + the device's name + after on the status line, the name shortened
// with an ellipsis until the line holds it.
void SayWithName(WindowOps& window, const std::wstring& before, const std::wstring& after) {
  std::wstring name = chosenDevice.name.empty() ? L"The chosen microphone" : chosenDevice.name;
  std::wstring text = before + name + after;
  while (!window.FitsStatusLine(text) && name.size() > 1) {
    name.pop_back();
    // Never half of a UTF-16 surrogate pair.
    if (name.size() > 1 && name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
    text = before + name + ELLIPSIS + after;
  }
  window.SetStatusText(text);
}

void SayNotConnected(WindowOps& window) { SayWithName(window, L"", L" is not connected: recording the default device."); }

}  // namespace

const std::wstring& ChosenDeviceId() {
  static const std::wstring defaultDevice;
  return absence == Absence::None ? chosenDevice.id : defaultDevice;
}

void LoadDeviceChoice(WindowOps& window) {
  chosenDevice = {window.ReadSetting(DEVICE_SETTING), window.ReadSetting(DEVICE_NAME_SETTING)};
  absence = Absence::None;
  // What will record, when it is not simply the default.
  if (KeepDeviceChoiceCurrent(window) && !chosenDevice.id.empty()) SayWithName(window, L"Ready: ", L"");
}

bool KeepDeviceChoiceCurrent(WindowOps& window, bool news) {
  return chosenDevice.id.empty() || KeepDeviceChoiceCurrent(window, window.ActiveRecordingDevices(), news);
}

bool KeepDeviceChoiceCurrent(WindowOps& window, const std::vector<RecordingDevice>& devices, bool news) {
  if (chosenDevice.id.empty()) return true;
  const auto found = std::find_if(devices.begin(), devices.end(),
                                  [](const RecordingDevice& device) { return device.id == chosenDevice.id; });
  if (found != devices.end()) {
    chosenDevice.name = found->name;
    if (absence == Absence::Unlisted || (absence == Absence::FailedToOpen && news)) {
      absence = Absence::None;
      SayWithName(window, L"", L" is back.");
    }
    return true;
  }
  const bool told = absence != Absence::None;
  absence = Absence::Unlisted;
  if (told) return true;
  SayNotConnected(window);
  return false;
}

void ChosenDeviceGone(WindowOps& window) {
  if (chosenDevice.id.empty()) return;
  absence = Absence::FailedToOpen;
  SayNotConnected(window);
}

std::vector<DeviceMenuItem> DeviceMenu(const std::vector<RecordingDevice>& devices, bool mayChange) {
  std::vector<DeviceMenuItem> items{{DEFAULT_DEVICE, ChosenDeviceId().empty(), mayChange}};
  for (const RecordingDevice& device : devices) {
    items.push_back({device.name, device.id == ChosenDeviceId(), mayChange});
  }
  return items;
}

void ChooseDevice(WindowOps& window, const std::vector<RecordingDevice>& devices, int index) {
  if (index < 0 || static_cast<std::size_t>(index) > devices.size()) return;
  chosenDevice = index == 0 ? RecordingDevice{} : devices[static_cast<std::size_t>(index) - 1];
  absence = Absence::None;
  window.WriteSetting(DEVICE_SETTING, chosenDevice.id);
  window.WriteSetting(DEVICE_NAME_SETTING, chosenDevice.name);
  if (index == 0) {
    window.SetStatusText(std::wstring(L"Microphone: ") + DEFAULT_DEVICE);
  } else {
    SayWithName(window, L"Microphone: ", L"");
  }
}
