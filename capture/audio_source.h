#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/capture_format.h"

// The audio service as the recording thread uses it. Each operation maps to
// one Core Audio or COM call, so a failure at any step takes the same path on
// every platform. Results are HRESULT-like: negative means failure, anything
// else (positive success codes included) success.
using AudioResult = std::int32_t;

// AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY: samples were lost before this packet.
constexpr std::uint32_t BUFFER_FLAG_DISCONTINUITY = 1;
// AUDCLNT_BUFFERFLAGS_SILENT: ignore the buffer, the packet is silence.
constexpr std::uint32_t BUFFER_FLAG_SILENT = 2;
// AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY:
// the audio engine converts between the stream's format and its own.
constexpr std::uint32_t STREAM_FLAGS_AUTOCONVERT = 0x80000000u | 0x08000000u;
constexpr std::int64_t CAPTURE_BUFFER_DURATION = 10'000'000;  // 100 ns units: one second
// AUDCLNT_E_DEVICE_INVALIDATED and AUDCLNT_E_SERVICE_NOT_RUNNING: results that
// name what became of the device, at whichever call they come.
constexpr auto RESULT_DEVICE_INVALIDATED = static_cast<AudioResult>(0x88890004u);
constexpr auto RESULT_SERVICE_NOT_RUNNING = static_cast<AudioResult>(0x88890010u);
// AUDCLNT_E_ENDPOINT_CREATE_FAILED: the device's endpoint could not be made,
// as when it has gone since it was listed.
constexpr auto RESULT_ENDPOINT_CREATE_FAILED = static_cast<AudioResult>(0x8889000Fu);
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND): no such device.
constexpr auto RESULT_NOT_FOUND = static_cast<AudioResult>(0x80070490u);
constexpr std::uint32_t ENDPOINT_ACTIVE = 1;  // DEVICE_STATE_ACTIVE

// The objects the thread acquires, in the order it acquires them.
enum class AudioObject { Enumerator, Device, AudioClient, CaptureClient };

class AudioSource {
 public:
  virtual ~AudioSource() = default;

  virtual void InitializeCom() = 0;                    // CoInitialize(nullptr)
  virtual AudioResult CreateDeviceEnumerator() = 0;    // CoCreateInstance(MMDeviceEnumerator)
  virtual AudioResult GetDefaultAudioEndpoint() = 0;   // eCapture, eConsole
  virtual AudioResult GetDevice(const std::wstring& endpointId) = 0;  // IMMDeviceEnumerator::GetDevice
  virtual AudioResult GetState(std::uint32_t& state) = 0;             // IMMDevice::GetState
  virtual AudioResult ActivateAudioClient() = 0;       // IMMDevice::Activate(IAudioClient)
  virtual AudioResult GetMixFormat(CaptureFormat& format) = 0;
  // IAudioClient::Initialize in shared mode, polled. Without a format, with
  // the mix format record exactly as GetMixFormat returned it; with one, with
  // a WAVEFORMATEX made of its fields and no extension.
  virtual AudioResult Initialize(std::uint32_t streamFlags, std::int64_t bufferDuration,
                                 const CaptureFormat* streamFormat) = 0;
  virtual AudioResult GetCaptureService() = 0;         // IAudioClient::GetService(IAudioCaptureClient)
  virtual AudioResult Start() = 0;
  virtual AudioResult GetNextPacketSize(std::uint32_t& frames) = 0;
  virtual AudioResult GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                                std::uint32_t& flags) = 0;
  virtual AudioResult ReleaseBuffer(std::uint32_t frames) = 0;
  virtual AudioResult Stop() = 0;
  virtual void FreeMixFormat() = 0;                    // CoTaskMemFree
  virtual void Release(AudioObject object) = 0;        // IUnknown::Release
  virtual void UninitializeCom() = 0;                  // CoUninitialize
};

// The platform's source for the default recording device.
std::unique_ptr<AudioSource> CreateDefaultAudioSource();
