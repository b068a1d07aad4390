#include "capture/capture_thread.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>
#include <thread>
#include <vector>

#include "analysis/analysis_worker.h"
#include "capture/output_file.h"
#include "capture/packet_pipeline.h"
#include "capture/sample_take.h"
#include "capture/system_awake.h"
#include "capture/take_writer.h"
#include "capture/wav_writer.h"
#include "state/recorder_state.h"

namespace {

constexpr auto POLL_PAUSE = std::chrono::milliseconds(5);

// What the thread has acquired from the audio service, so that teardown
// releases exactly that.
struct Acquired {
  std::array<bool, 4> objects{};  // indexed by AudioObject
  bool format = false;

  void Mark(AudioObject object) { objects[static_cast<std::size_t>(object)] = true; }
  void Unmark(AudioObject object) { objects[static_cast<std::size_t>(object)] = false; }
  bool Has(AudioObject object) const { return objects[static_cast<std::size_t>(object)]; }
};

// True for a successful result; otherwise records the step and its code.
bool Succeeded(AudioResult result, StartStep step, StartFailure& failure) {
  if (result >= 0) return true;
  failure = {step, static_cast<std::uint32_t>(result)};
  return false;
}

// Opens the device (the default one when deviceId is empty) and reads its
// shared-mode format. Returns false at the first failing step.
bool OpenDevice(AudioSource& source, const std::wstring& deviceId, CaptureFormat& format, Acquired& acquired,
                StartFailure& failure) {
  // 1. Device enumerator, the capture endpoint, audio client.
  if (!Succeeded(source.CreateDeviceEnumerator(), StartStep::CreateDeviceEnumerator, failure)) return false;
  acquired.Mark(AudioObject::Enumerator);
  if (deviceId.empty()) {
    if (!Succeeded(source.GetDefaultAudioEndpoint(), StartStep::GetDefaultAudioEndpoint, failure)) return false;
    acquired.Mark(AudioObject::Device);
  } else {
    // Windows keeps unplugged devices by their id: one that is not active
    // is as good as gone.
    if (!Succeeded(source.GetDevice(deviceId), StartStep::GetDevice, failure)) return false;
    acquired.Mark(AudioObject::Device);
    std::uint32_t state = 0;
    if (!Succeeded(source.GetState(state), StartStep::GetDevice, failure)) return false;
    if (state != ENDPOINT_ACTIVE) {
      failure = {StartStep::GetDevice, static_cast<std::uint32_t>(RESULT_NOT_FOUND)};
      return false;
    }
  }
  if (!Succeeded(source.ActivateAudioClient(), StartStep::ActivateAudioClient, failure)) return false;
  acquired.Mark(AudioObject::AudioClient);
  // 2. The shared-mode format.
  if (!Succeeded(source.GetMixFormat(format), StartStep::GetMixFormat, failure)) return false;
  acquired.format = true;
  return true;
}

// The format a stream is asked for when the driver refuses the device's own:
// 32-bit float or 16-bit integer samples at the mix rate, in stereo (mono for
// a mono device), every field agreeing with the others. The audio engine
// converts what the device delivers to it. False if the rate is beyond what
// the record can describe.
bool ConvertedFormat(const CaptureFormat& mix, bool isFloat, CaptureFormat& converted) {
  const std::uint16_t channels = RecordedChannels(mix);
  const std::uint16_t bits = isFloat ? 32 : 16;
  const auto blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  const std::uint64_t byteRate = std::uint64_t{mix.nSamplesPerSec} * blockAlign;
  if (byteRate > UINT32_MAX) return false;
  converted = {};
  converted.wFormatTag = isFloat ? FORMAT_TAG_IEEE_FLOAT : FORMAT_TAG_PCM;
  converted.nChannels = channels;
  converted.nSamplesPerSec = mix.nSamplesPerSec;
  converted.nAvgBytesPerSec = static_cast<std::uint32_t>(byteRate);
  converted.nBlockAlign = blockAlign;
  converted.wBitsPerSample = bits;
  return true;
}

// Starts a shared-mode stream, in the device's own format if the driver
// takes it: the pipeline then keeps the device's first one or two channels
// unmixed. Drivers have been seen to refuse the very format they report;
// then the stream is asked for a converted format, float first, each on a
// fresh audio client. Only when every attempt is refused does the start
// fail, with the code of the first refusal. format becomes the stream's.
bool StartStream(AudioSource& source, CaptureFormat& format, Acquired& acquired, StartFailure& failure) {
  AudioResult result = source.Initialize(0, CAPTURE_BUFFER_DURATION, nullptr);
  const AudioResult refusal = result;
  for (const bool isFloat : {true, false}) {
    CaptureFormat converted;
    if (result >= 0 || !ConvertedFormat(format, isFloat, converted)) break;
    // 1. A new audio client: one whose Initialize failed is not asked again.
    source.Release(AudioObject::AudioClient);
    acquired.Unmark(AudioObject::AudioClient);
    if (source.ActivateAudioClient() < 0) break;
    acquired.Mark(AudioObject::AudioClient);
    // 2. The converted stream.
    result = source.Initialize(STREAM_FLAGS_AUTOCONVERT, CAPTURE_BUFFER_DURATION, &converted);
    if (result >= 0) format = converted;
  }
  if (result < 0) {
    failure = {StartStep::Initialize, static_cast<std::uint32_t>(refusal)};
    return false;
  }
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

enum class CaptureEnd { Stopped, DiskTooSlow, DeviceFailed, OutOfMemory };

// Drains packets every 5 ms until isRecording is cleared, the file falls
// too far behind, the device fails (failureCode says how) or memory for the
// take runs out.
CaptureEnd CapturePackets(AudioSource& source, const CaptureFormat& format, SampleTake& recordedSamples,
                          const TakeWriter& writer, WindowHandle window, const RecordingLimits& limits,
                          AudioResult& failureCode) {
  const std::uint16_t channels = RecordedChannels(format);
  // Stands in for the buffer of a packet flagged silent, whose contents the
  // service says to ignore. Only ever grows, and holds silence only: 0x80
  // for unsigned 8-bit samples, zeros for every other encoding.
  const std::uint8_t silentByte = SampleEncodingOf(format) == SampleEncoding::Unsigned8 ? 0x80 : 0x00;
  std::vector<std::uint8_t> silence;
  StallWatch stall(window, limits.stallNotice);
  bool firstPacket = true;
  std::uint64_t memoryAskedAt = 0;  // samples held when memoryLeft was last asked

  while (isRecording.load()) {
    std::uint32_t packetLength = 0;
    // The service reports a device that has gone (unplugged, disabled), or
    // its own end, here.
    if ((failureCode = source.GetNextPacketSize(packetLength)) < 0) return CaptureEnd::DeviceFailed;
    while (packetLength != 0 && isRecording.load()) {
      const std::uint8_t* data = nullptr;
      std::uint32_t frames = 0;
      std::uint32_t flags = 0;
      if (source.GetBuffer(data, frames, flags) < 0) break;
      stall.PacketArrived();

      CapturePacket packet{data, frames};
      bool processed = false;
      try {
        if ((flags & BUFFER_FLAG_SILENT) != 0) {
          const std::size_t bytes = std::size_t{format.nBlockAlign} * packet.frameCount;
          if (silence.size() < bytes) silence.resize(bytes, silentByte);
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
      // The stream's first packet is flagged after a gap by the service's
      // start itself: only later flags are samples lost.
      if ((flags & BUFFER_FLAG_DISCONTINUITY) != 0 && !firstPacket) recordedGaps.store(recordedGaps.load() + 1);
      firstPacket = false;
      recordedSeconds.store(static_cast<std::uint32_t>(recordedSamples.size() / channels / format.nSamplesPerSec));
      const std::uint64_t held = recordedSamples.Held();
      if (!writer.Failed()) {
        if (2 * held > limits.maxBehindBytes) return CaptureEnd::DiskTooSlow;
      } else if (held >= memoryAskedAt + SampleTake::BLOCK_SAMPLES) {
        // Nothing leaves memory any more: it is what bounds the take.
        memoryAskedAt = held;
        if (limits.memoryLeft() < limits.memoryMargin) return CaptureEnd::OutOfMemory;
      }
      if ((failureCode = source.GetNextPacketSize(packetLength)) < 0) return CaptureEnd::DeviceFailed;
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

void Finish(RecordingOutcome outcome, WindowHandle window, StartFailure failure = {},
            std::uint32_t failureCode = 0) {
  startFailure = failure;
  captureFailureCode = failureCode;
  recordingOutcome.store(outcome);
  PostNotification(window, WM_RECORDING_DONE);
}

RecordingOutcome SavedOutcome(CaptureEnd end, AudioResult failureCode) {
  switch (end) {
    case CaptureEnd::DiskTooSlow: return RecordingOutcome::SavedDiskTooSlow;
    case CaptureEnd::DeviceFailed:
      if (failureCode == RESULT_DEVICE_INVALIDATED) return RecordingOutcome::SavedDeviceLost;
      if (failureCode == RESULT_SERVICE_NOT_RUNNING) return RecordingOutcome::SavedServiceStopped;
      return RecordingOutcome::SavedCaptureFailed;
    case CaptureEnd::OutOfMemory: return RecordingOutcome::SavedOutOfMemory;
    case CaptureEnd::Stopped: break;
  }
  return RecordingOutcome::Saved;
}

}  // namespace

void RecordFromSource(AudioSource& source, const std::wstring& path, WindowHandle window,
                      const RecordingLimits& limits, const std::wstring& deviceId) {
  captureActive.store(true);
  // The last take's clip light goes out at Start, whether or not this one starts.
  StartLevelMeter();
  source.InitializeCom();

  Acquired acquired;
  CaptureFormat format;
  StartFailure failure;
  RecordingOutcome refused = RecordingOutcome::None;
  if (!OpenDevice(source, deviceId, format, acquired, failure)) {
    refused = RecordingOutcome::CouldNotStart;
  } else if (SampleEncodingOf(format) == SampleEncoding::Unsupported) {
    // Checked before the stream exists: its packets could not be read.
    refused = RecordingOutcome::FormatNotSupported;
  } else if (!StartStream(source, format, acquired, failure)) {
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
    failure.chosenDevice = !deviceId.empty();
    // Nothing was captured and no file exists; the window still needs to
    // hear that the recording is over, once everything has been released.
    Teardown(source, acquired);
    Finish(refused, window, failure);
    return;
  }

  const auto rate = static_cast<std::int32_t>(format.nSamplesPerSec);
  const std::int32_t channels = RecordedChannels(format);
  GrowingWavFile file(rate, channels, *limits.files);
  const FileError openError = file.Open(path);
  if (!file.IsOpen()) {
    // The window tells the user once it has joined this thread: a box owned
    // by the window, shown from here, would need the window's thread, which
    // may be waiting in that join.
    Finish(RecordingOutcome::FileNotOpened, window);
    Teardown(source, acquired);
    return;
  }
  // Blocks never move, so the writer reads the take as it grows; it is
  // joined before the take goes anywhere. A file that took not even its
  // header is a disk that failed while recording.
  SampleTake recordedSamples(limits.maxTakeBlocks);
  diskSecondsLeft.store(UINT32_MAX);
  diskLimitIsFileSize.store(false);
  TakeWriter writer(file, recordedSamples, window, limits.writer, openError);
  if (!writer.Start()) {
    source.Stop();
    file.Close();
    RemoveFile(path);
    Teardown(source, acquired);
    Finish(RecordingOutcome::CouldNotStart, window, {StartStep::StartFileWriter, 0});
    return;
  }
  recordedSeconds.store(0);
  recordedGaps.store(0);
  // Until the take's tail is in its file or waits in memory for the user.
  const SystemKeptAwake awake;
  PostNotification(window, WM_RECORDING_STARTED);

  // Once per process: later recordings keep the time of the last frame queued.
  static const bool analysisClockStarted = [] {
    std::lock_guard lock(displayMutex);
    lastAnalysisTime = std::chrono::steady_clock::now();
    return true;
  }();
  (void)analysisClockStarted;

  AudioResult failureCode = 0;
  const CaptureEnd end = CapturePackets(source, format, recordedSamples, writer, window, limits, failureCode);
  source.Stop();
  PostNotification(window, WM_RECORDING_SAVING);
  if (const FileError error = writer.Finish()) {
    // What reached the disk stays: a valid WAV file of the take up to the
    // failure. What it does not hold waits in memory for the user to save
    // the take elsewhere or discard it.
    unsavedTake.emplace(std::move(recordedSamples), file.CommittedBytes() / 2, rate, channels, error, path);
    unsavedTake->stoppedOutOfMemory = end == CaptureEnd::OutOfMemory;
    Finish(RecordingOutcome::WriteFailed, window);
  } else {
    Finish(SavedOutcome(end, failureCode), window, {}, static_cast<std::uint32_t>(failureCode));
  }
  Teardown(source, acquired);
}

void CaptureThreadMain(std::wstring path, WindowHandle window, std::wstring deviceId) {
  const auto source = CreateDefaultAudioSource();
  RecordFromSource(*source, path, window, {}, deviceId);
}

void SaveTakeMain(std::wstring path, WindowHandle window) {
  UnsavedTake& take = *unsavedTake;
  const SystemKeptAwake awake;  // a long take may take minutes to copy
  try {
    take.error = SaveTake(path, take, SaveWay::Replacing);
    // The part the failed disk holds is no longer the most complete copy,
    // unless the take was just saved over it.
    if (!take.error && !take.savedRestOnly && !take.partialFile.empty()) {
      if (!SameFile(take.partialFile, path)) RemoveFile(take.partialFile);
      take.partialFile.clear();
    }
  } catch (const std::bad_alloc&) {
    take.error = {ENOMEM, 0};
  }
  PostNotification(window, WM_TAKE_SAVED);
}
