#include "platform/win32/recording_devices.h"

#include <mmdeviceapi.h>
#include <propidl.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/win32/core_audio_ids.h"
#include "state/notifier.h"

namespace {

// PKEY_Device_FriendlyName: the name the Sound settings show.
constexpr PROPERTYKEY DEVICE_FRIENDLY_NAME = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

// Owns one reference to a COM interface.
template <typename Interface>
class ComPointer {
 public:
  ComPointer() = default;
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  ~ComPointer() {
    if (pointer != nullptr) pointer->Release();
  }
  Interface** Receive() { return &pointer; }  // for a call that hands out a reference
  Interface* operator->() const { return pointer; }
  Interface* Get() const { return pointer; }

 private:
  Interface* pointer = nullptr;
};

struct CoTaskMemDeleter {
  void operator()(void* memory) const { CoTaskMemFree(memory); }
};

bool CreateEnumerator(ComPointer<IMMDeviceEnumerator>& enumerator) {
  return SUCCEEDED(CoCreateInstance(coreaudio::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                    coreaudio::IID_IMMDeviceEnumerator,
                                    reinterpret_cast<void**>(enumerator.Receive())));
}

std::wstring FriendlyName(IMMDevice* device) {
  ComPointer<IPropertyStore> properties;
  if (FAILED(device->OpenPropertyStore(STGM_READ, properties.Receive()))) return {};
  PROPVARIANT value;
  PropVariantInit(&value);
  std::wstring name;
  if (SUCCEEDED(properties->GetValue(DEVICE_FRIENDLY_NAME, &value)) && value.vt == VT_LPWSTR &&
      value.pwszVal != nullptr) {
    name = value.pwszVal;
  }
  PropVariantClear(&value);
  return name;
}

// Hears of the devices on a thread of the audio service's, and only posts:
// everything else happens on the window's thread. A static object, so
// that the reference counting has nothing to free.
class DeviceWatcher final : public IMMNotificationClient {
 public:
  // Written by the UI thread before registering, read by the service's
  // threads until unregistered.
  std::atomic<HWND> window{nullptr};

  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, coreaudio::IID_IMMNotificationClient)) {
      *object = static_cast<IMMNotificationClient*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return Tell(); }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return Tell(); }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return Tell(); }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole, LPCWSTR) override {
    return flow == eRender ? S_OK : Tell();
  }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

 private:
  HRESULT Tell() {
    PostMessageW(window.load(), WM_DEVICES_CHANGED, 0, 0);
    return S_OK;
  }
};

DeviceWatcher watcher;
// UI thread only: the enumerator the watcher is registered with.
IMMDeviceEnumerator* watchingEnumerator = nullptr;

}  // namespace

std::vector<RecordingDevice> ListRecordingDevices() {
  std::vector<RecordingDevice> devices;
  ComPointer<IMMDeviceEnumerator> enumerator;
  ComPointer<IMMDeviceCollection> collection;
  UINT count = 0;
  if (!CreateEnumerator(enumerator) ||
      FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, collection.Receive())) ||
      FAILED(collection->GetCount(&count))) {
    return devices;
  }
  for (UINT i = 0; i < count; ++i) {
    ComPointer<IMMDevice> device;
    LPWSTR id = nullptr;
    if (FAILED(collection->Item(i, device.Receive())) || FAILED(device->GetId(&id))) continue;
    const std::unique_ptr<wchar_t, CoTaskMemDeleter> ownedId(id);
    std::wstring name = FriendlyName(device.Get());
    devices.push_back({id, name.empty() ? id : std::move(name)});
  }
  return devices;
}

void WatchRecordingDevices(HWND window) {
  ComPointer<IMMDeviceEnumerator> enumerator;
  if (!CreateEnumerator(enumerator)) return;
  watcher.window.store(window);
  if (FAILED(enumerator->RegisterEndpointNotificationCallback(&watcher))) return;
  // Kept until unregistered, which takes the same enumerator.
  watchingEnumerator = enumerator.Get();
  watchingEnumerator->AddRef();
}

void StopWatchingRecordingDevices() {
  if (watchingEnumerator == nullptr) return;
  // Before the window goes: nothing is posted to a window that is gone.
  watchingEnumerator->UnregisterEndpointNotificationCallback(&watcher);
  watchingEnumerator->Release();
  watchingEnumerator = nullptr;
}
