#include "capture/capture_thread.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

#include "analysis/analysis_worker.h"
#include "capture/error_box.h"
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

// Opens the default device and starts a shared-mode stream with one or two
// channels. Returns false at the first failing step.
bool OpenStream(AudioSource& source, CaptureFormat& format, Acquired& acquired) {
  // 1. Device enumerator, default capture endpoint, audio client.
  if (source.CreateDeviceEnumerator() < 0) return false;
  acquired.Mark(AudioObject::Enumerator);
  if (source.GetDefaultAudioEndpoint() < 0) return false;
  acquired.Mark(AudioObject::Device);
  if (source.ActivateAudioClient() < 0) return false;
  acquired.Mark(AudioObject::AudioClient);
  // 2. The shared-mode format, asked for with one or two channels.
  if (source.GetMixFormat(format) < 0) return false;
  acquired.format = true;
  format.nChannels = format.nChannels < 2 ? 1 : 2;
  // 3. The stream, its capture client, and the start.
  if (source.Initialize(format, CAPTURE_BUFFER_DURATION) < 0) return false;
  if (source.GetCaptureService() < 0) return false;
  acquired.Mark(AudioObject::CaptureClient);
  return source.Start() >= 0;
}

// Drains packets every 5 ms until isRecording is cleared, the device stops
// answering, or the take reaches maxDataBytes. Returns true in the last case.
bool CapturePackets(AudioSource& source, const CaptureFormat& format, SampleTake& recordedSamples,
                    WindowHandle window, std::uint64_t maxDataBytes) {
  const std::uint64_t takeBytesPerFrame = 2u * format.nChannels;
  const std::uint64_t maxTakeFrames = maxDataBytes / takeBytesPerFrame;
  const std::size_t packetBytesPerFrame = std::size_t{format.wBitsPerSample} / 8 * format.nChannels;
  // Stands in for the buffer of a packet flagged silent, whose contents the
  // service says to ignore. Only ever grows, and holds zeros only.
  std::vector<std::uint8_t> silence;

  while (isRecording.load()) {
    std::uint32_t packetLength = 0;
    if (source.GetNextPacketSize(packetLength) < 0) return false;
    while (packetLength != 0 && isRecording.load()) {
      const std::uint8_t* data = nullptr;
      std::uint32_t frames = 0;
      std::uint32_t flags = 0;
      if (source.GetBuffer(data, frames, flags) < 0) break;

      CapturePacket packet{data, frames};
      const std::uint64_t room = maxTakeFrames - recordedSamples.size() / format.nChannels;
      const bool reachesLimit = frames > room;
      if (reachesLimit) packet.frameCount = static_cast<std::uint32_t>(room);
      if ((flags & BUFFER_FLAG_SILENT) != 0) {
        const std::size_t bytes = packetBytesPerFrame * packet.frameCount;
        if (silence.size() < bytes) silence.resize(bytes);
        packet.data = silence.data();
      }
      // A format the pipeline refuses is left without a release, as the
      // service hands out the same format until the stream ends.
      if (!ProcessCapturePacket(packet, format, recordedSamples, window)) break;
      source.ReleaseBuffer(frames);
      if (reachesLimit) return true;
      source.GetNextPacketSize(packetLength);
    }
    std::this_thread::sleep_for(POLL_PAUSE);
  }
  return false;
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

void Finish(RecordingOutcome outcome, WindowHandle window) {
  recordingOutcome.store(outcome);
  PostNotification(window, WM_RECORDING_DONE);
}

}  // namespace

void RecordFromSource(AudioSource& source, const std::wstring& path, WindowHandle window,
                      std::uint64_t maxDataBytes) {
  captureActive.store(true);
  source.InitializeCom();

  Acquired acquired;
  CaptureFormat format;
  if (!OpenStream(source, format, acquired)) {
    // Nothing was captured and no file exists; the window still needs to
    // hear that the recording is over, once everything has been released.
    Teardown(source, acquired);
    Finish(RecordingOutcome::CouldNotStart, window);
    return;
  }

  sampleRate = static_cast<std::int32_t>(format.nSamplesPerSec);
  StartAnalysisWorker();

  std::ofstream file(FilePath(path),
                     std::ios::binary | std::ios::out | std::ios::trunc);
  if (!file.is_open()) {
    // The box is owned by the window; it is dismissed before the window is
    // told, so the window never joins this thread while the box is up.
    ShowErrorBox(window, L"Cannot open file for writing", L"Error");
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

  SampleTake recordedSamples;
  const bool reachedLimit = CapturePackets(source, format, recordedSamples, window, maxDataBytes);
  source.Stop();
  const bool written =
      FinishTake(file, recordedSamples, static_cast<std::int32_t>(format.nSamplesPerSec), format.nChannels);
  Finish(!written       ? RecordingOutcome::WriteFailed
         : reachedLimit ? RecordingOutcome::SavedAtLimit
                        : RecordingOutcome::Saved,
         window);
  Teardown(source, acquired);
}

void CaptureThreadMain(std::wstring path, WindowHandle window) {
  const auto source = CreateDefaultAudioSource();
  RecordFromSource(*source, path, window, MAX_WAV_DATA_BYTES);
}
