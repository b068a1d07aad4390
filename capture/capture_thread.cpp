#include "capture/capture_thread.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>
#include <vector>

#include "analysis/analysis_worker.h"
#include "capture/packet_pipeline.h"
#include "capture/sample_take.h"
#include "capture/wav_writer.h"
#include "state/recorder_state.h"

namespace {

// The file name as the platform's file system spells it. Windows takes the
// UTF-16 path itself: a narrow path would be read in the ANSI code page and
// miss names outside it. Elsewhere names are UTF-8 bytes, whatever the locale.
std::filesystem::path FilePath(const std::wstring& path) {
#ifdef _WIN32
  return std::filesystem::path(path);
#else
  std::u8string utf8;
  auto put = [&](std::uint32_t byte) { utf8.push_back(static_cast<char8_t>(byte)); };
  for (wchar_t ch : path) {
    const auto c = static_cast<std::uint32_t>(ch);
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return std::filesystem::path(utf8);
#endif
}

constexpr auto POLL_PAUSE = std::chrono::milliseconds(5);

// What the thread has acquired from the audio service, so that teardown
// releases exactly that.
struct Acquired {
  std::array<bool, 4> objects{};  // indexed by AudioObject
  bool format = false;

  void Mark(AudioObject object) { objects[static_cast<std::size_t>(object)] = true; }
  bool Has(AudioObject object) const { return objects[static_cast<std::size_t>(object)]; }
};

// True for a successful result; otherwise records the step and its code.
bool Succeeded(AudioResult result, StartStep step, StartFailure& failure) {
  if (result >= 0) return true;
  failure = {step, static_cast<std::uint32_t>(result)};
  return false;
}

// Opens the default device and reads its shared-mode format. Returns false
// at the first failing step.
bool OpenDevice(AudioSource& source, CaptureFormat& format, Acquired& acquired, StartFailure& failure) {
  // 1. Device enumerator, default capture endpoint, audio client.
  if (!Succeeded(source.CreateDeviceEnumerator(), StartStep::CreateDeviceEnumerator, failure)) return false;
  acquired.Mark(AudioObject::Enumerator);
  if (!Succeeded(source.GetDefaultAudioEndpoint(), StartStep::GetDefaultAudioEndpoint, failure)) return false;
  acquired.Mark(AudioObject::Device);
  if (!Succeeded(source.ActivateAudioClient(), StartStep::ActivateAudioClient, failure)) return false;
  acquired.Mark(AudioObject::AudioClient);
  // 2. The shared-mode format.
  if (!Succeeded(source.GetMixFormat(format), StartStep::GetMixFormat, failure)) return false;
  acquired.format = true;
  return true;
}

// Starts a shared-mode stream in the device's own format: a record the
// service made itself is one whose fields agree, whatever the channel count.
// The pipeline keeps the first one or two channels of each frame.
bool StartStream(AudioSource& source, Acquired& acquired, StartFailure& failure) {
  if (!Succeeded(source.Initialize(CAPTURE_BUFFER_DURATION), StartStep::Initialize, failure)) return false;
  if (!Succeeded(source.GetCaptureService(), StartStep::GetCaptureService, failure)) return false;
  acquired.Mark(AudioObject::CaptureClient);
  return Succeeded(source.Start(), StartStep::Start, failure);
}

// Tells the window when the device has delivered no packet for a while,
// counting whole seconds, and again once packets flow.
class StallWatch {
 public:
  StallWatch(WindowHandle target, std::chrono::milliseconds notice) : window(target), threshold(notice) {
    stalledSeconds.store(0);
  }

  void PacketArrived() {
    lastPacket = Clock::now();
    if (reported != 0) Publish(0);
  }

  void Check() {
    const auto quiet = Clock::now() - lastPacket;
    if (quiet < threshold) return;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(quiet).count();
    const auto shown = static_cast<std::uint32_t>(std::max<std::int64_t>(seconds, 1));
    if (shown != reported) Publish(shown);
  }

 private:
  using Clock = std::chrono::steady_clock;

  void Publish(std::uint32_t seconds) {
    reported = seconds;
    stalledSeconds.store(seconds);
    PostNotification(window, WM_CAPTURE_STALLED);
  }

  WindowHandle window;
  std::chrono::milliseconds threshold;
  Clock::time_point lastPacket = Clock::now();
  std::uint32_t reported = 0;
};

enum class CaptureEnd { Stopped, AtLimit, DeviceLost, OutOfMemory };

// Drains packets every 5 ms until isRecording is cleared, the take reaches
// its limit, the device goes away or memory for the take runs out.
CaptureEnd CapturePackets(AudioSource& source, const CaptureFormat& format, SampleTake& recordedSamples,
                          WindowHandle window, const RecordingLimits& limits) {
  const std::uint16_t channels = RecordedChannels(format);
  const std::uint64_t maxTakeFrames = limits.maxDataBytes / (2u * channels);
  // Stands in for the buffer of a packet flagged silent, whose contents the
  // service says to ignore. Only ever grows, and holds zeros only.
  std::vector<std::uint8_t> silence;
  StallWatch stall(window, limits.stallNotice);

  while (isRecording.load()) {
    std::uint32_t packetLength = 0;
    // The service reports a device that has gone (unplugged, disabled) here.
    if (source.GetNextPacketSize(packetLength) < 0) return CaptureEnd::DeviceLost;
    while (packetLength != 0 && isRecording.load()) {
      const std::uint8_t* data = nullptr;
      std::uint32_t frames = 0;
      std::uint32_t flags = 0;
      if (source.GetBuffer(data, frames, flags) < 0) break;
      stall.PacketArrived();

      CapturePacket packet{data, frames};
      const std::uint64_t room = maxTakeFrames - recordedSamples.size() / channels;
      const bool reachesLimit = frames > room;
      if (reachesLimit) packet.frameCount = static_cast<std::uint32_t>(room);
      bool processed = false;
      try {
        if ((flags & BUFFER_FLAG_SILENT) != 0) {
          const std::size_t bytes = std::size_t{format.nBlockAlign} * packet.frameCount;
          if (silence.size() < bytes) silence.resize(bytes);
          packet.data = silence.data();
        }
        processed = ProcessCapturePacket(packet, format, recordedSamples, window);
      } catch (const std::bad_alloc&) {
        // The take keeps every packet before this one; the recording ends here.
        source.ReleaseBuffer(frames);
        return CaptureEnd::OutOfMemory;
      }
      // A format the pipeline refuses is left without a release, as the
      // service hands out the same format until the stream ends.
      if (!processed) break;
      source.ReleaseBuffer(frames);
      if (reachesLimit) return CaptureEnd::AtLimit;
      if (source.GetNextPacketSize(packetLength) < 0) return CaptureEnd::DeviceLost;
    }
    stall.Check();
    std::this_thread::sleep_for(POLL_PAUSE);
  }
  return CaptureEnd::Stopped;
}

void Teardown(AudioSource& source, const Acquired& acquired) {
  // 1. The analysis worker, which may still be analysing a frame.
  StopAnalysisWorker();
  // 2. The format record, then the interfaces in reverse order of acquisition.
  if (acquired.format) source.FreeMixFormat();
  for (auto object : {AudioObject::CaptureClient, AudioObject::AudioClient, AudioObject::Device,
                      AudioObject::Enumerator}) {
    if (acquired.Has(object)) source.Release(object);
  }
  // 3. COM, whatever InitializeCom returned.
  source.UninitializeCom();
  captureActive.store(false);
}

void Finish(RecordingOutcome outcome, WindowHandle window, StartFailure failure = {}) {
  startFailure = failure;
  recordingOutcome.store(outcome);
  PostNotification(window, WM_RECORDING_DONE);
}

RecordingOutcome SavedOutcome(CaptureEnd end) {
  switch (end) {
    case CaptureEnd::AtLimit: return RecordingOutcome::SavedAtLimit;
    case CaptureEnd::DeviceLost: return RecordingOutcome::SavedDeviceLost;
    case CaptureEnd::OutOfMemory: return RecordingOutcome::SavedOutOfMemory;
    case CaptureEnd::Stopped: break;
  }
  return RecordingOutcome::Saved;
}

}  // namespace

void RecordFromSource(AudioSource& source, const std::wstring& path, WindowHandle window,
                      const RecordingLimits& limits) {
  captureActive.store(true);
  source.InitializeCom();

  Acquired acquired;
  CaptureFormat format;
  StartFailure failure;
  RecordingOutcome refused = RecordingOutcome::None;
  if (!OpenDevice(source, format, acquired, failure)) {
    refused = RecordingOutcome::CouldNotStart;
  } else if (SampleEncodingOf(format) == SampleEncoding::Unsupported) {
    // Checked before the stream exists: its packets could not be read.
    refused = RecordingOutcome::FormatNotSupported;
  } else if (!StartStream(source, acquired, failure)) {
    refused = RecordingOutcome::CouldNotStart;
  } else {
    sampleRate = static_cast<std::int32_t>(format.nSamplesPerSec);
    if (!limits.startAnalysisWorker()) {
      source.Stop();
      failure = {StartStep::StartAnalysisWorker, 0};
      refused = RecordingOutcome::CouldNotStart;
    }
  }
  if (refused != RecordingOutcome::None) {
    // Nothing was captured and no file exists; the window still needs to
    // hear that the recording is over, once everything has been released.
    Teardown(source, acquired);
    Finish(refused, window, failure);
    return;
  }

  std::ofstream file(FilePath(path),
                     std::ios::binary | std::ios::out | std::ios::trunc);
  if (!file.is_open()) {
    // The window tells the user once it has joined this thread: a box owned
    // by the window, shown from here, would need the window's thread, which
    // may be waiting in that join.
    Finish(RecordingOutcome::FileNotOpened, window);
    Teardown(source, acquired);
    return;
  }
  PostNotification(window, WM_RECORDING_STARTED);

  // Once per process: later recordings keep the time of the last frame queued.
  static const bool analysisClockStarted = [] {
    std::lock_guard lock(displayMutex);
    lastAnalysisTime = std::chrono::steady_clock::now();
    return true;
  }();
  (void)analysisClockStarted;

  SampleTake recordedSamples(limits.maxTakeBlocks);
  const CaptureEnd end = CapturePackets(source, format, recordedSamples, window, limits);
  source.Stop();
  const bool written = FinishTake(file, recordedSamples, static_cast<std::int32_t>(format.nSamplesPerSec),
                                  RecordedChannels(format));
  Finish(written ? SavedOutcome(end) : RecordingOutcome::WriteFailed, window);
  Teardown(source, acquired);
}

void CaptureThreadMain(std::wstring path, WindowHandle window) {
  const auto source = CreateDefaultAudioSource();
  RecordFromSource(*source, path, window);
}
