#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstring>
#include <memory>

#include "capture/audio_source.h"
#include "platform/win32/core_audio_ids.h"

namespace {

// One call of Core Audio or COM per operation; the recording thread decides
// what to do with each result.
class CoreAudioSource final : public AudioSource {
 public:
  void InitializeCom() override { CoInitialize(nullptr); }

  AudioResult CreateDeviceEnumerator() override {
    return CoCreateInstance(coreaudio::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                            coreaudio::IID_IMMDeviceEnumerator, reinterpret_cast<void**>(&enumerator));
  }

  AudioResult GetDefaultAudioEndpoint() override {
    return enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device);
  }

  AudioResult GetDevice(const std::wstring& endpointId) override {
    return enumerator->GetDevice(endpointId.c_str(), &device);
  }

  AudioResult GetState(std::uint32_t& state) override {
    DWORD deviceState = 0;
    const HRESULT result = device->GetState(&deviceState);
    state = deviceState;
    return result;
  }

  AudioResult ActivateAudioClient() override {
    return device->Activate(coreaudio::IID_IAudioClient, CLSCTX_ALL, nullptr,
                            reinterpret_cast<void**>(&audioClient));
  }

  AudioResult GetMixFormat(CaptureFormat& format) override {
    const HRESULT result = audioClient->GetMixFormat(&mixFormat);
    if (FAILED(result)) return result;
    format.wFormatTag = mixFormat->wFormatTag;
    format.nChannels = mixFormat->nChannels;
    format.nSamplesPerSec = mixFormat->nSamplesPerSec;
    format.nAvgBytesPerSec = mixFormat->nAvgBytesPerSec;
    format.nBlockAlign = mixFormat->nBlockAlign;
    format.wBitsPerSample = mixFormat->wBitsPerSample;
    // An extensible record too short to hold its extension keeps a zero
    // SubFormat, which capture refuses.
    if (mixFormat->wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
        mixFormat->cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
      const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(mixFormat);
      format.wValidBitsPerSample = extensible->Samples.wValidBitsPerSample;
      static_assert(sizeof(extensible->SubFormat) == sizeof(format.SubFormat));
      std::memcpy(format.SubFormat.data(), &extensible->SubFormat, sizeof(format.SubFormat));
    }
    return result;
  }

  AudioResult Initialize(std::uint32_t streamFlags, std::int64_t bufferDuration,
                         const CaptureFormat* streamFormat) override {
    if (streamFormat == nullptr) {
      // The record as the service made it, extension and all.
      return audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, streamFlags, bufferDuration, 0, mixFormat, nullptr);
    }
    WAVEFORMATEX record{};
    record.wFormatTag = streamFormat->wFormatTag;
    record.nChannels = streamFormat->nChannels;
    record.nSamplesPerSec = streamFormat->nSamplesPerSec;
    record.nAvgBytesPerSec = streamFormat->nAvgBytesPerSec;
    record.nBlockAlign = streamFormat->nBlockAlign;
    record.wBitsPerSample = streamFormat->wBitsPerSample;
    record.cbSize = 0;
    return audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, streamFlags, bufferDuration, 0, &record, nullptr);
  }

  AudioResult GetCaptureService() override {
    return audioClient->GetService(coreaudio::IID_IAudioCaptureClient,
                                   reinterpret_cast<void**>(&captureClient));
  }

  AudioResult Start() override { return audioClient->Start(); }

  AudioResult GetNextPacketSize(std::uint32_t& frames) override {
    UINT32 size = 0;
    const HRESULT result = captureClient->GetNextPacketSize(&size);
    frames = size;
    return result;
  }

  AudioResult GetBuffer(const std::uint8_t*& data, std::uint32_t& frames, std::uint32_t& flags) override {
    BYTE* buffer = nullptr;
    UINT32 count = 0;
    DWORD bufferFlags = 0;
    const HRESULT result = captureClient->GetBuffer(&buffer, &count, &bufferFlags, nullptr, nullptr);
    data = buffer;
    frames = count;
    flags = bufferFlags;
    return result;
  }

  AudioResult ReleaseBuffer(std::uint32_t frames) override { return captureClient->ReleaseBuffer(frames); }

  AudioResult Stop() override { return audioClient->Stop(); }

  void FreeMixFormat() override {
    CoTaskMemFree(mixFormat);
    mixFormat = nullptr;
  }

  void Release(AudioObject object) override {
    switch (object) {
      case AudioObject::CaptureClient: ReleaseInterface(captureClient); break;
      case AudioObject::AudioClient: ReleaseInterface(audioClient); break;
      case AudioObject::Device: ReleaseInterface(device); break;
      case AudioObject::Enumerator: ReleaseInterface(enumerator); break;
    }
  }

  void UninitializeCom() override { CoUninitialize(); }

 private:
  template <typename Interface>
  static void ReleaseInterface(Interface*& pointer) {
    pointer->Release();
    pointer = nullptr;
  }

  IMMDeviceEnumerator* enumerator = nullptr;
  IMMDevice* device = nullptr;
  IAudioClient* audioClient = nullptr;
  IAudioCaptureClient* captureClient = nullptr;
  WAVEFORMATEX* mixFormat = nullptr;
};

}  // namespace

std::unique_ptr<AudioSource> CreateDefaultAudioSource() { return std::make_unique<CoreAudioSource>(); }
