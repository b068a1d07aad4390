#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "capture/audio_source.h"

// An audio source that serves a given format and packets from memory, logs
// every call by name, and can be told to fail any step.
class ScriptedAudioSource : public AudioSource {
 public:
  struct Packet {
    std::vector<std::uint8_t> bytes;
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    // How long after the previous packet this one becomes available: a
    // device that stalls.
    std::chrono::milliseconds gapBefore{0};
  };

  // What happens once every packet has been served.
  enum class WhenDrained {
    KeepPolling,          // report no packet waiting, forever
    ClearIsRecording,     // as if the user pressed Stop
    FailNextPacketSize,   // the device goes away
  };

  explicit ScriptedAudioSource(CaptureFormat mixFormat) : format(mixFormat) {}

  void AddPacket(Packet packet) { packets.push_back(std::move(packet)); }
  // The named operation (as in the call log) returns failure, with this
  // code the first time and laterCode (if not 0) after it, the given number
  // of times (every time by default).
  void FailAt(std::string operation, AudioResult code = static_cast<AudioResult>(0x80004005u),
              std::size_t times = SIZE_MAX, AudioResult laterCode = 0) {
    failing = std::move(operation);
    failureCode = code;
    laterFailureCode = laterCode != 0 ? laterCode : code;
    failuresLeft = times;
  }

  WhenDrained whenDrained = WhenDrained::ClearIsRecording;
  // Packets become available no faster than this, like a live device.
  std::chrono::milliseconds packetInterval{0};
  // Read these only after the recording thread has ended.
  std::vector<std::string> calls;
  std::int64_t initializedDuration = 0;
  struct StreamRequest {
    std::uint32_t flags;
    std::optional<CaptureFormat> format;  // empty: the mix format record
  };
  std::vector<StreamRequest> streamRequests;  // one per Initialize
  // What GetNextPacketSize fails with once drained (WhenDrained::FailNextPacketSize).
  AudioResult drainedFailure = RESULT_DEVICE_INVALIDATED;
  std::vector<std::uint32_t> released;  // frame counts given to ReleaseBuffer
  std::size_t packetsServed = 0;
  std::wstring openedDevice;  // the endpoint id given to GetDevice
  std::uint32_t deviceState = ENDPOINT_ACTIVE;  // what GetState reports

  void InitializeCom() override;
  AudioResult CreateDeviceEnumerator() override;
  AudioResult GetDefaultAudioEndpoint() override;
  AudioResult GetDevice(const std::wstring& endpointId) override;
  AudioResult GetState(std::uint32_t& state) override;
  AudioResult ActivateAudioClient() override;
  AudioResult GetMixFormat(CaptureFormat& out) override;
  AudioResult Initialize(std::uint32_t streamFlags, std::int64_t bufferDuration,
                         const CaptureFormat* streamFormat) override;
  AudioResult GetCaptureService() override;
  AudioResult Start() override;
  AudioResult GetNextPacketSize(std::uint32_t& frames) override;
  AudioResult GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                        std::uint32_t& flags) override;
  AudioResult ReleaseBuffer(std::uint32_t frames) override;
  AudioResult Stop() override;
  void FreeMixFormat() override;
  void Release(AudioObject object) override;
  void UninitializeCom() override;

 private:
  AudioResult Call(const char* operation);
  bool Fails(const char* operation);

  CaptureFormat format;
  std::deque<Packet> packets;
  std::optional<Packet> handedOut;
  std::string failing;
  AudioResult failureCode = 0;
  AudioResult laterFailureCode = 0;
  std::size_t failuresLeft = 0;
  std::chrono::steady_clock::time_point nextPacketAt{};
};

// Packets made from sample values.
ScriptedAudioSource::Packet FloatPacket(const std::vector<float>& interleaved, unsigned channels);
ScriptedAudioSource::Packet Pcm16Packet(const std::vector<std::int16_t>& interleaved,
                                        unsigned channels);

// Self-consistent records: the block alignment agrees with channels and bits.
CaptureFormat FormatOf(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits);
CaptureFormat FloatFormat(std::uint16_t channels, std::uint32_t rate);
CaptureFormat Pcm16Format(std::uint16_t channels, std::uint32_t rate);
