#include "support/scripted_audio_source.h"

#include <cstring>
#include <utility>

#include "state/recorder_state.h"

namespace {
constexpr AudioResult E_FAIL_RESULT = static_cast<AudioResult>(0x80004005u);

const char* ObjectName(AudioObject object) {
  switch (object) {
    case AudioObject::Enumerator: return "Release(Enumerator)";
    case AudioObject::Device: return "Release(Device)";
    case AudioObject::AudioClient: return "Release(AudioClient)";
    case AudioObject::CaptureClient: return "Release(CaptureClient)";
  }
  return "Release(?)";
}
}  // namespace

bool ScriptedAudioSource::Fails(const char* operation) {
  if (failing != operation || failuresLeft == 0) return false;
  --failuresLeft;
  return true;
}

AudioResult ScriptedAudioSource::Call(const char* operation) {
  calls.emplace_back(operation);
  if (!Fails(operation)) return 0;
  return std::exchange(failureCode, laterFailureCode);
}

void ScriptedAudioSource::InitializeCom() { calls.emplace_back("InitializeCom"); }
AudioResult ScriptedAudioSource::CreateDeviceEnumerator() { return Call("CreateDeviceEnumerator"); }
AudioResult ScriptedAudioSource::GetDefaultAudioEndpoint() { return Call("GetDefaultAudioEndpoint"); }
AudioResult ScriptedAudioSource::GetDevice(const std::wstring& endpointId) {
  openedDevice = endpointId;
  return Call("GetDevice");
}
AudioResult ScriptedAudioSource::GetState(std::uint32_t& state) {
  state = deviceState;
  return Call("GetState");
}
AudioResult ScriptedAudioSource::ActivateAudioClient() { return Call("ActivateAudioClient"); }

AudioResult ScriptedAudioSource::GetMixFormat(CaptureFormat& out) {
  const AudioResult result = Call("GetMixFormat");
  if (result >= 0) out = format;
  return result;
}

AudioResult ScriptedAudioSource::Initialize(std::uint32_t streamFlags, std::int64_t bufferDuration,
                                            const CaptureFormat* streamFormat) {
  initializedDuration = bufferDuration;
  streamRequests.push_back({streamFlags, streamFormat ? std::optional(*streamFormat) : std::nullopt});
  return Call("Initialize");
}

AudioResult ScriptedAudioSource::GetCaptureService() { return Call("GetCaptureService"); }
AudioResult ScriptedAudioSource::Start() { return Call("Start"); }

AudioResult ScriptedAudioSource::GetNextPacketSize(std::uint32_t& frames) {
  frames = 0;
  if (packets.empty()) {
    if (whenDrained == WhenDrained::FailNextPacketSize) return drainedFailure;
    if (whenDrained == WhenDrained::ClearIsRecording) isRecording.store(false);
    return 0;
  }
  if (std::chrono::steady_clock::now() < nextPacketAt + packets.front().gapBefore) return 0;
  frames = packets.front().frames;
  // A packet of zero frames is still a packet the thread must fetch.
  if (frames == 0) frames = 1;
  return 0;
}

AudioResult ScriptedAudioSource::GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                                           std::uint32_t& flags) {
  calls.emplace_back("GetBuffer");
  // A failed call hands out nothing: the packet stays for the next one.
  if (packets.empty()) return E_FAIL_RESULT;
  if (Fails("GetBuffer")) return failureCode;
  handedOut = std::move(packets.front());
  packets.pop_front();
  ++packetsServed;
  nextPacketAt = std::chrono::steady_clock::now() + packetInterval;
  data = handedOut->bytes.data();
  frames = handedOut->frames;
  flags = handedOut->flags;
  return 0;
}

AudioResult ScriptedAudioSource::ReleaseBuffer(std::uint32_t frames) {
  released.push_back(frames);
  return Call("ReleaseBuffer");
}

AudioResult ScriptedAudioSource::Stop() { return Call("Stop"); }
void ScriptedAudioSource::FreeMixFormat() { calls.emplace_back("FreeMixFormat"); }
void ScriptedAudioSource::Release(AudioObject object) { calls.emplace_back(ObjectName(object)); }
void ScriptedAudioSource::UninitializeCom() { calls.emplace_back("UninitializeCom"); }

namespace {

template <typename Sample>
ScriptedAudioSource::Packet PacketOf(const std::vector<Sample>& interleaved, unsigned channels) {
  ScriptedAudioSource::Packet packet;
  packet.bytes.resize(interleaved.size() * sizeof(Sample));
  if (!interleaved.empty()) std::memcpy(packet.bytes.data(), interleaved.data(), packet.bytes.size());
  packet.frames = static_cast<std::uint32_t>(interleaved.size() / channels);
  return packet;
}

}  // namespace

CaptureFormat FormatOf(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  CaptureFormat format;
  format.wFormatTag = tag;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  format.wBitsPerSample = bits;
  return format;
}

ScriptedAudioSource::Packet FloatPacket(const std::vector<float>& interleaved, unsigned channels) {
  return PacketOf(interleaved, channels);
}

ScriptedAudioSource::Packet Pcm16Packet(const std::vector<std::int16_t>& interleaved, unsigned channels) {
  return PacketOf(interleaved, channels);
}

CaptureFormat FloatFormat(std::uint16_t channels, std::uint32_t rate) {
  CaptureFormat format = FormatOf(FORMAT_TAG_EXTENSIBLE, channels, rate, 32);
  format.SubFormat = SUBTYPE_IEEE_FLOAT;
  return format;
}

CaptureFormat Pcm16Format(std::uint16_t channels, std::uint32_t rate) {
  return FormatOf(FORMAT_TAG_PCM, channels, rate, 16);
}
