#include "capture/capture_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>

#include "capture/wav_writer.h"
#include "state/recorder_state.h"
#include "support/failing_allocation.h"
#include "support/scripted_audio_source.h"
#include "support/test_platform.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The same made-up sequence on both ends: every value differs from its
// neighbours, so a lost, doubled or swapped sample shows.
std::int16_t Generated(std::size_t i) { return static_cast<std::int16_t>((i * 40503u + 11u) % 65536u - 32768u); }

struct WavContents {
  WavHeader header;
  std::vector<std::int16_t> samples;
  std::uintmax_t fileSize = 0;
};

WavContents ReadWav(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  WavContents wav;
  wav.fileSize = bytes.size();
  if (bytes.size() < sizeof(WavHeader)) return wav;
  std::memcpy(&wav.header, bytes.data(), sizeof(WavHeader));
  wav.samples.resize((bytes.size() - sizeof(WavHeader)) / 2);
  if (!wav.samples.empty()) {
    std::memcpy(wav.samples.data(), bytes.data() + sizeof(WavHeader), wav.samples.size() * 2);
  }
  return wav;
}

std::vector<unsigned> MessagesTo(WindowHandle window) {
  std::vector<unsigned> messages;
  for (const auto& p : testNotifier.Posted()) {
    if (p.target == window) messages.push_back(p.message);
  }
  return messages;
}

class RecordingThread : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    mainWindow = TestWindow(0x2);
    dir = MakeTestDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
    path = dir / "take.wav";
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs one recording on a thread of its own, as the window would.
  void Record(ScriptedAudioSource& source, const RecordingLimits& limits = {}, std::wstring file = {},
              const std::wstring& deviceId = {}) {
    if (file.empty()) file = path.wstring();
    isRecording.store(true);
    RunWithWatchdog(
        [&] {
          std::thread recording(RecordFromSource, std::ref(source), file, window, std::cref(limits), deviceId);
          recording.join();
        },
        60s, "recording thread");
  }

  void ExpectEndedCleanly() {
    EXPECT_FALSE(captureActive.load());
    EXPECT_FALSE(analysisRunning.load());
    EXPECT_FALSE(analysisThread.joinable());
    EXPECT_EQ(threadsKeepingSystemAwake.load(), 0) << "the system kept awake after the take";
  }

  fs::path dir;
  fs::path path;
  WindowHandle window = TestWindow(0x1);
};

TEST_F(RecordingThread, StereoPcmTakeHoldsEverySampleInOrder) {
  ScriptedAudioSource source(Pcm16Format(2, 48000));
  std::size_t next = 0;
  for (std::uint32_t frames : {480u, 0u, 1u, 479u, 4800u, 7u}) {
    std::vector<std::int16_t> samples(2 * frames);
    for (auto& s : samples) s = Generated(next++);
    auto packet = Pcm16Packet(samples, 2);
    packet.frames = frames;
    source.AddPacket(packet);
  }
  // The window may open the file as soon as it hears: it must be complete.
  std::uintmax_t sizeWhenDone = 0;
  testNotifier.onPost = [&](unsigned message) {
    if (message == WM_RECORDING_DONE) sizeWhenDone = fs::file_size(path);
  };
  Record(source);
  EXPECT_EQ(sizeWhenDone, 80 + 2 * next);

  const auto wav = ReadWav(path);
  ASSERT_EQ(wav.samples.size(), next);
  for (std::size_t i = 0; i < next; ++i) ASSERT_EQ(wav.samples[i], Generated(i)) << "sample " << i;
  EXPECT_EQ(wav.header.channels, 2);
  EXPECT_EQ(wav.header.sampleRate, 48000u);
  EXPECT_EQ(wav.header.dataSize, 2 * next);
  EXPECT_EQ(wav.header.riffSize, 2 * next + 72);
  EXPECT_EQ(wav.fileSize, 80 + 2 * next);

  std::vector<unsigned> expected = {WM_RECORDING_STARTED};
  expected.insert(expected.end(), 6, WM_UPDATE_VISUALS);
  expected.push_back(WM_RECORDING_SAVING);
  expected.push_back(WM_RECORDING_DONE);
  EXPECT_EQ(MessagesTo(window), expected);
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::Saved);
  EXPECT_EQ(source.released, (std::vector<std::uint32_t>{480, 0, 1, 479, 4800, 7}));
  EXPECT_EQ(sampleRate, 48000);
  ExpectEndedCleanly();

  // Teardown releases what was acquired, newest first, after the Stop.
  const std::vector<std::string> tail(source.calls.end() - 7, source.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Stop", "FreeMixFormat", "Release(CaptureClient)",
                                            "Release(AudioClient)", "Release(Device)",
                                            "Release(Enumerator)", "UninitializeCom"}));
}

// A live-paced stereo float device playing a tone: the analysis worker runs
// alongside and publishes its peak; the take's time counts frames, not samples.
TEST_F(RecordingThread, LiveToneIsRecordedAndAnalysed) {
  ScriptedAudioSource source(FloatFormat(2, 48000));
  source.packetInterval = 3ms;
  const std::size_t packets = 260, frames = 480;
  for (std::size_t p = 0; p < packets; ++p) {
    std::vector<float> samples;
    for (std::size_t i = 0; i < frames; ++i) {
      const double t = static_cast<double>(p * frames + i) / 48000.0;
      samples.insert(samples.end(), 2, static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * t)));
    }
    source.AddPacket(FloatPacket(samples, 2));
  }
  Record(source);

  const auto wav = ReadWav(path);
  EXPECT_EQ(wav.samples.size(), 2 * packets * frames);
  EXPECT_EQ(wav.header.channels, 2);
  EXPECT_EQ(wav.header.bitsPerSample, 16);
  EXPECT_EQ(wav.header.audioFormat, 1);
  EXPECT_GE(testNotifier.Count(WM_UPDATE_VISUALS), packets);
  EXPECT_EQ(recordedSeconds.load(), 2u);  // 2.6 s
  EXPECT_EQ(peakFrequencyHz.load(), 999.755859375f) << "no analysis ran, or the wrong peak";
  std::lock_guard lock(spectrumMutex);
  ASSERT_EQ(spectrum.size(), 32768u);
  EXPECT_EQ(spectrum[1365], 1.0f);
  EXPECT_NEAR(levelValue.load(), 0.5 / std::numbers::sqrt2, 0.01);
}

TEST_F(RecordingThread, SetupFailureAtAnyStepLeavesNoFileAndReleasesWhatItHad) {
  const struct {
    const char* step;
    StartStep failedStep;
    std::vector<std::string> released;
    std::wstring device = {};  // the chosen device's id; empty for the default
  } cases[] = {
      {"CreateDeviceEnumerator", StartStep::CreateDeviceEnumerator, {}},
      {"GetDefaultAudioEndpoint", StartStep::GetDefaultAudioEndpoint, {"Release(Enumerator)"}},
      {"ActivateAudioClient", StartStep::ActivateAudioClient, {"Release(Device)", "Release(Enumerator)"}},
      {"GetMixFormat", StartStep::GetMixFormat, {"Release(AudioClient)", "Release(Device)", "Release(Enumerator)"}},
      // Refused, then on fresh clients in float and in 16 bits, converted.
      {"Initialize", StartStep::Initialize,
       {"Release(AudioClient)", "ActivateAudioClient", "Initialize", "Release(AudioClient)", "ActivateAudioClient",
        "Initialize", "FreeMixFormat", "Release(AudioClient)", "Release(Device)", "Release(Enumerator)"}},
      {"GetCaptureService", StartStep::GetCaptureService,
       {"FreeMixFormat", "Release(AudioClient)", "Release(Device)", "Release(Enumerator)"}},
      {"Start", StartStep::Start,
       {"FreeMixFormat", "Release(CaptureClient)", "Release(AudioClient)", "Release(Device)", "Release(Enumerator)"}},
      {"GetDevice", StartStep::GetDevice, {"Release(Enumerator)"}, L"{chosen}"},
      {"GetState", StartStep::GetDevice, {"Release(Device)", "Release(Enumerator)"}, L"{chosen}"},
      {"ActivateAudioClient", StartStep::ActivateAudioClient, {"Release(Device)", "Release(Enumerator)"}, L"{chosen}"},
  };
  int ran = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    testNotifier.Clear();
    recordingOutcome.store(RecordingOutcome::None);
    ScriptedAudioSource source(FloatFormat(2, 48000));
    source.AddPacket(FloatPacket({0.5f, 0.5f}, 2));
    const auto code = static_cast<AudioResult>(0x88890000u + static_cast<unsigned>(ran));
    source.FailAt(c.step, code, SIZE_MAX, static_cast<AudioResult>(0x80004005u));  // the first code is told
    Record(source, {}, {}, c.device);

    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::CouldNotStart);
    EXPECT_EQ(startFailure.step, c.failedStep);
    EXPECT_EQ(startFailure.code, static_cast<std::uint32_t>(code));
    EXPECT_EQ(startFailure.chosenDevice, !c.device.empty());
    EXPECT_EQ(source.openedDevice, c.device);
    EXPECT_TRUE(c.device.empty() || std::ranges::count(source.calls, "GetDefaultAudioEndpoint") == 0);
    EXPECT_EQ(MessagesTo(window), std::vector<unsigned>{WM_RECORDING_DONE});
    EXPECT_TRUE(isRecording.load()) << "the thread never writes isRecording";
    EXPECT_EQ(source.packetsServed, 0u);
    ExpectEndedCleanly();

    const auto failedAt = std::find(source.calls.begin(), source.calls.end(), c.step);
    ASSERT_NE(failedAt, source.calls.end());
    std::vector<std::string> after(failedAt + 1, source.calls.end());
    std::vector<std::string> expected = c.released;
    expected.push_back("UninitializeCom");
    EXPECT_EQ(after, expected);
    ++ran;
  }
  EXPECT_EQ(ran, 10);
}

// The thread shows nothing itself: the window, once it has joined the
// thread, tells the user. A thread that waits for the window could never be
// joined by it.
TEST_F(RecordingThread, UnwritablePathOnlyTellsTheWindow) {
  ScriptedAudioSource source(FloatFormat(2, 48000));
  source.AddPacket(FloatPacket({0.5f, 0.5f}, 2));
  const fs::path missing = dir / "no such folder" / "take.wav";
  Record(source, {}, dir.wstring() + L"/no such folder/take.wav");

  EXPECT_EQ(MessagesTo(window), std::vector<unsigned>{WM_RECORDING_DONE});
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::FileNotOpened);
  EXPECT_EQ(std::count(source.calls.begin(), source.calls.end(), "Stop"), 0);
  EXPECT_EQ(source.packetsServed, 0u);
  EXPECT_FALSE(fs::exists(missing));
  ExpectEndedCleanly();
}

// The stream is opened in the device's own format; the file holds exactly
// the device's first channel, or its first two, never a mixture.
TEST_F(RecordingThread, DevicesOfAnyChannelCountRecordTheirFirstTwoChannels) {
  int ran = 0;
  for (std::uint16_t device : {std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{4}, std::uint16_t{6}}) {
    SCOPED_TRACE(device);
    ResetSharedState();
    const std::uint16_t recorded = device < 2 ? 1 : 2;
    ScriptedAudioSource source(FloatFormat(device, 44100));
    std::vector<float> interleaved;
    std::vector<std::int16_t> expected;
    for (int frame = 0; frame < 50; ++frame) {
      for (int c = 0; c < device; ++c) {
        // k/4 is exact in float, and k/4 * 32767 truncates as k * 32767 / 4 does.
        const int k = (frame + 3 * c) % 8 - 4;
        interleaved.push_back(static_cast<float>(k) / 4.0f);
        if (c < recorded) expected.push_back(static_cast<std::int16_t>(k * 32767 / 4));
      }
    }
    source.AddPacket(FloatPacket(interleaved, device));
    Record(source);
    EXPECT_EQ(source.initializedDuration, 10'000'000);
    const auto wav = ReadWav(path);
    EXPECT_EQ(wav.header.channels, recorded);
    EXPECT_EQ(wav.header.sampleRate, 44100u);
    EXPECT_EQ(wav.header.blockAlign, 2 * recorded);
    EXPECT_EQ(wav.samples, expected);
    EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::Saved);
    ++ran;
  }
  EXPECT_EQ(ran, 4);
}

// Refused before any stream or file exists: a format whose packets cannot
// be read, and a worker thread that finds no memory.
TEST_F(RecordingThread, UnreadableFormatOrNoWorkerThreadStartsNothing) {
  CaptureFormat adpcm = FormatOf(2, 1, 48000, 4);
  ScriptedAudioSource unreadable(adpcm);
  unreadable.AddPacket({std::vector<std::uint8_t>(60, 1), 10, 0});
  Record(unreadable);
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::FormatNotSupported);
  EXPECT_EQ(std::count(unreadable.calls.begin(), unreadable.calls.end(), "Initialize"), 0);
  EXPECT_EQ(MessagesTo(window), std::vector<unsigned>{WM_RECORDING_DONE});
  EXPECT_FALSE(fs::exists(path));
  ExpectEndedCleanly();

  testNotifier.Clear();
  ScriptedAudioSource noThread(FloatFormat(2, 48000));
  noThread.AddPacket(FloatPacket({0.5f, 0.5f}, 2));
  Record(noThread, {.startAnalysisWorker = [] {
           FailAllocations(1);
           return StartAnalysisWorker();
         }});
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::CouldNotStart);
  EXPECT_EQ(startFailure.step, StartStep::StartAnalysisWorker);
  EXPECT_EQ(MessagesTo(window), std::vector<unsigned>{WM_RECORDING_DONE});
  EXPECT_EQ(noThread.packetsServed, 0u);
  EXPECT_FALSE(fs::exists(path));
  const std::vector<std::string> tail(noThread.calls.end() - 8, noThread.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Start", "Stop", "FreeMixFormat", "Release(CaptureClient)",
                                            "Release(AudioClient)", "Release(Device)", "Release(Enumerator)",
                                            "UninitializeCom"}));
  ExpectEndedCleanly();
}

// Silence in every encoding is recorded as zeros: 8-bit samples are
// unsigned, and their silence is 0x80.
TEST_F(RecordingThread, SilentPacketsAreRecordedAsZeros) {
  const struct {
    CaptureFormat format;
    std::uint8_t loudByte;  // every byte of a loud packet
    std::int16_t loud;      // what it records as
  } cases[] = {{FloatFormat(2, 48000), 0x3F, 24478},  // 0x3F3F3F3F is 0.7470588 as a float
               {FormatOf(FORMAT_TAG_PCM, 2, 8000, 8), 0xC0, 16384}};  // (0xC0 - 128) x 256
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format.wBitsPerSample);
    ScriptedAudioSource source(c.format);
    const ScriptedAudioSource::Packet loud{std::vector<std::uint8_t>(10u * c.format.nBlockAlign, c.loudByte), 10};
    auto flaggedSilent = loud;
    flaggedSilent.flags = BUFFER_FLAG_SILENT;
    auto otherFlag = loud;
    otherFlag.flags = BUFFER_FLAG_DISCONTINUITY;  // samples lost before it; its own are good
    auto first = loud;
    first.flags = BUFFER_FLAG_DISCONTINUITY;  // as the start of every stream is
    source.AddPacket(first);
    source.AddPacket(flaggedSilent);
    source.AddPacket(otherFlag);
    Record(source);
    EXPECT_EQ(recordedGaps.load(), 1u) << "the start's flag is no gap; the later one is";

    std::vector<std::int16_t> expected(20, c.loud);
    expected.insert(expected.end(), 20, 0);
    expected.insert(expected.end(), 20, c.loud);
    EXPECT_EQ(ReadWav(path).samples, expected);
    EXPECT_EQ(source.released, (std::vector<std::uint32_t>{10, 10, 10}));
  }
}

TEST_F(RecordingThread, DiskTooFarBehindEndsTheRecordingAndSavesAll) {
  ScriptedAudioSource source(Pcm16Format(2, 48000));
  source.whenDrained = ScriptedAudioSource::WhenDrained::KeepPolling;
  std::size_t next = 0;
  for (int p = 0; p < 10; ++p) {
    std::vector<std::int16_t> samples(200);  // 100 frames
    for (auto& s : samples) s = Generated(next++);
    source.AddPacket(Pcm16Packet(samples, 2));
  }
  // The file takes nothing until Stop: the third packet carries memory past 1003 bytes.
  Record(source, {.maxBehindBytes = 1003, .writer = {10s, 10s}});

  const auto wav = ReadWav(path);
  ASSERT_EQ(wav.samples.size(), 600u);
  for (std::size_t i = 0; i < 600; ++i) ASSERT_EQ(wav.samples[i], Generated(i));
  EXPECT_EQ(wav.header.dataSize, 1200u);
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::SavedDiskTooSlow);
  EXPECT_TRUE(isRecording.load());
  EXPECT_EQ(source.packetsServed, 3u);
  EXPECT_EQ(source.released, (std::vector<std::uint32_t>{100, 100, 100}));
  ExpectEndedCleanly();
}

// A GetBuffer that fails hands out nothing: polling goes on and the packet
// comes next time. Stop ends the drain after the packet in hand, however
// many more are waiting.
TEST_F(RecordingThread, FailedGetBufferIsRetriedAndStopEndsTheDrain) {
  ScriptedAudioSource retried(Pcm16Format(1, 48000));
  for (std::int16_t p = 0; p < 3; ++p) retried.AddPacket(Pcm16Packet({p, p}, 1));
  retried.FailAt("GetBuffer", static_cast<AudioResult>(0x80004005u), 2);
  Record(retried);
  EXPECT_EQ(ReadWav(path).samples, (std::vector<std::int16_t>{0, 0, 1, 1, 2, 2}));
  EXPECT_EQ(std::count(retried.calls.begin(), retried.calls.end(), "GetBuffer"), 5);
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::Saved);

  ScriptedAudioSource waiting(Pcm16Format(1, 48000));
  waiting.whenDrained = ScriptedAudioSource::WhenDrained::KeepPolling;
  for (std::int16_t p = 0; p < 5; ++p) waiting.AddPacket(Pcm16Packet({p}, 1));
  std::size_t processed = 0;
  testNotifier.onPost = [&](unsigned message) {
    if (message == WM_UPDATE_VISUALS && ++processed == 2) isRecording.store(false);  // Stop
  };
  Record(waiting);
  EXPECT_EQ(ReadWav(path).samples, (std::vector<std::int16_t>{0, 1}));
  EXPECT_EQ(waiting.released, (std::vector<std::uint32_t>{1, 1}));
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::Saved);
}

// The device or the service fails while recording: the take is saved, and
// the window hears what the platform said.
TEST_F(RecordingThread, FailingDeviceEndsTheRecordingAndSavesIt) {
  const struct {
    std::uint32_t code;
    RecordingOutcome outcome;
  } cases[] = {{0x88890004, RecordingOutcome::SavedDeviceLost},
               {0x88890010, RecordingOutcome::SavedServiceStopped},
               {0x80004005, RecordingOutcome::SavedCaptureFailed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ScriptedAudioSource source(FloatFormat(1, 48000));
    source.whenDrained = ScriptedAudioSource::WhenDrained::FailNextPacketSize;
    source.drainedFailure = static_cast<AudioResult>(c.code);
    source.AddPacket(FloatPacket({0.5f, -0.5f}, 1));
    Record(source);
    EXPECT_EQ(ReadWav(path).samples, (std::vector<std::int16_t>{16383, -16383}));
    EXPECT_EQ(recordingOutcome.load(), c.outcome);
    EXPECT_EQ(captureFailureCode, c.code);
    EXPECT_TRUE(isRecording.load());
    ExpectEndedCleanly();
  }
}

// A driver that refuses its own mix format: the stream is asked for the
// engine's conversion to float, then 16 bits, at the mix rate, in stereo
// (mono for a mono device), and records whichever it takes.
TEST_F(RecordingThread, RefusedMixFormatIsRecordedConverted) {
  const struct {
    std::uint16_t deviceChannels;
    std::size_t refusals;
    CaptureFormat stream;
  } cases[] = {{8, 1, FormatOf(FORMAT_TAG_IEEE_FLOAT, 2, 44100, 32)},
               {1, 2, FormatOf(FORMAT_TAG_PCM, 1, 44100, 16)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.deviceChannels);
    ScriptedAudioSource source(FloatFormat(c.deviceChannels, 44100));
    source.FailAt("Initialize", static_cast<AudioResult>(0x88890008u), c.refusals);
    ScriptedAudioSource::Packet packet{std::vector<std::uint8_t>(4u * c.stream.nBlockAlign, 0x40), 4};
    source.AddPacket(packet);
    Record(source);

    ASSERT_EQ(source.streamRequests.size(), c.refusals + 1);
    EXPECT_EQ(source.streamRequests[0].flags, 0u);
    EXPECT_FALSE(source.streamRequests[0].format.has_value()) << "the mix format record comes first";
    EXPECT_EQ(source.streamRequests.back().flags, 0x88000000u);
    EXPECT_EQ(source.streamRequests.back().format, c.stream) << "every field agreeing, no extension";
    const auto wav = ReadWav(path);
    EXPECT_EQ(wav.header.channels, c.stream.nChannels);
    // 0x40404040 as a float is about 3.0 and clamps; 0x4040 as a sample is itself.
    EXPECT_EQ(wav.samples, std::vector<std::int16_t>(4u * c.stream.nChannels,
                                                     c.stream.wBitsPerSample == 32 ? 32767 : 0x4040));
    EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::Saved);
    ExpectEndedCleanly();
  }
}

// No packet for a while: the window hears how long, in whole seconds, and
// hears again when packets flow; the recording goes on and loses nothing.
TEST_F(RecordingThread, StalledDeviceIsReportedWhileTheRecordingGoesOn) {
  ScriptedAudioSource source(Pcm16Format(1, 48000));
  source.AddPacket(Pcm16Packet({1, 2}, 1));
  auto late = Pcm16Packet({3, 4}, 1);
  late.gapBefore = 2300ms;
  source.AddPacket(late);
  Record(source, {.stallNotice = 300ms});

  std::vector<std::uint32_t> reported;
  for (const auto& p : testNotifier.Posted()) {
    if (p.message == WM_CAPTURE_STALLED) reported.push_back(p.stalledAtPost);
  }
  EXPECT_EQ(reported, (std::vector<std::uint32_t>{1, 2, 0}));
  EXPECT_EQ(ReadWav(path).samples, (std::vector<std::int16_t>{1, 2, 3, 4}));
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::Saved);
}

// Memory for the take runs out part-way: every packet before is saved, the
// one that found no memory is handed back, and the window hears why.
TEST_F(RecordingThread, OutOfMemoryEndsTheRecordingAndSavesWhatItHas) {
  ScriptedAudioSource source(Pcm16Format(1, 48000));
  source.whenDrained = ScriptedAudioSource::WhenDrained::KeepPolling;
  std::size_t next = 0;
  for (int p = 0; p < 12; ++p) {
    std::vector<std::int16_t> samples(100'000);
    for (auto& s : samples) s = Generated(next++);
    source.AddPacket(Pcm16Packet(samples, 1));
  }
  // Four blocks hold ten packets and part of the eleventh; the writer
  // gives nothing back before Stop.
  Record(source, {.maxTakeBlocks = 4, .writer = {10s, 10s}});

  const auto wav = ReadWav(path);
  ASSERT_EQ(wav.samples.size(), 1'000'000u);
  for (std::size_t i = 0; i < wav.samples.size(); ++i) ASSERT_EQ(wav.samples[i], Generated(i)) << i;
  EXPECT_EQ(wav.header.dataSize, 2'000'000u);
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::SavedOutOfMemory);
  EXPECT_EQ(source.packetsServed, 11u);
  EXPECT_EQ(source.released.size(), 11u);
  EXPECT_EQ(MessagesTo(window).back(), WM_RECORDING_DONE);
  ExpectEndedCleanly();
}

// A disk for the file calls below, which can only be plain functions: it
// holds files up to `limit` bytes, and fails as a test tells it to.
struct FakeDisk {
  std::int64_t limit = INT64_MAX;  // a write beyond stores what fits, then fails with ENOSPC
  bool storesPartly = false;       // every write stores half its bytes and reports EINVAL, as Wine's does
  bool flushFailsAtEnd = false;    // flushes fail with EIO once the recording is stopped
  std::uint64_t free = UINT64_MAX;  // what the volume says it has free
  std::uint64_t largest = UINT64_MAX;  // the largest file it says it holds
} disk;

int Failed(int error) {
  errno = error;
  return -1;
}

// Called at the start of every write: the moments between two writes are
// those a crash can leave the file in.
std::function<void()> beforeDiskWrite;

int DiskWrite(int descriptor, const void* data, std::size_t bytes) {
  if (beforeDiskWrite) beforeDiskWrite();
  const std::int64_t room = std::clamp<std::int64_t>(disk.limit - SystemFileCalls().seek(descriptor, 0, SEEK_CUR), 0,
                                                     static_cast<std::int64_t>(bytes));
  const auto fits = disk.storesPartly ? std::max<std::size_t>(1, bytes / 2) : static_cast<std::size_t>(room);
  if (fits == 0) return Failed(ENOSPC);
  const int written = SystemFileCalls().write(descriptor, data, fits);
  return disk.storesPartly ? Failed(EINVAL) : written;
}

int DiskFlush(int descriptor) {
  return disk.flushFailsAtEnd && !isRecording.load() ? Failed(EIO) : SystemFileCalls().flush(descriptor);
}

std::uint64_t DiskFree(const std::filesystem::path&) { return disk.free; }
std::uint64_t DiskLargest(int) { return disk.largest; }

const FileCalls DISK_CALLS{SystemFileCalls().open, DiskWrite, DiskFlush, SystemFileCalls().seek,
                           SystemFileCalls().close, DiskFree, DiskLargest};

// Samples the header covers, having checked that the file is now a valid WAV file of
// the generated sequence's beginning: sizes agree, cover whole frames, every sample right.
std::size_t ExpectValidBeginning(const fs::path& path, std::size_t channels) {
  const auto wav = ReadWav(path);
  EXPECT_EQ(wav.header.riffSize, wav.header.dataSize + 72);
  EXPECT_LE(80 + std::uintmax_t{wav.header.dataSize}, wav.fileSize);
  EXPECT_EQ(wav.header.dataSize % (2 * channels), 0u);
  std::size_t right = 0;
  while (right < wav.samples.size() && wav.samples[right] == Generated(right)) ++right;
  EXPECT_EQ(right, wav.samples.size()) << "sample " << right << " of the file is wrong";
  return wav.header.dataSize / 2;
}

// The file is written while recording and is a valid WAV file at every
// moment. A disk that fails stops the file, not the recording: the window
// hears at once, the take is whole in memory, the file stays a valid WAV
// of what it took, and saving the take elsewhere removes that part.
TEST_F(RecordingThread, FileGrowsValidWhileRecordingAndSurvivesAFailingDisk) {
  const struct {
    const char* name;
    FakeDisk disk;
    std::size_t coveredAtEnd;  // samples the final header covers; SIZE_MAX: all
    std::uint32_t secondsLeft = UINT32_MAX;
  } cases[] = {
      {"disk keeps up, with 90 s of room", {.free = 48000 * 4 * 90 + 3, .largest = 0xFFFFFFFF}, SIZE_MAX, 90},
      // The 0.3 s take and its header leave 30 s and a little below the largest file.
      {"disk keeps up, with 30 s of room in the file", {.free = 48000 * 4 * 90, .largest = 48000 * 4 * 30 + 57680 + 3},
       SIZE_MAX, 30},
      {"write reported failed after storing part", {.storesPartly = true}, SIZE_MAX},
      {"disk full while recording", {.limit = 80 + 10002}, 5000},
      {"flush fails at the end", {.flushFailsAtEnd = true}, 0},
  };
  int ran = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSharedState();
    disk = c.disk;
    ScriptedAudioSource source(Pcm16Format(2, 48000));
    source.packetInterval = 2ms;
    std::size_t next = 0;
    for (int p = 0; p < 60; ++p) {
      std::vector<std::int16_t> samples(2 * 240);
      for (auto& s : samples) s = Generated(next++);
      source.AddPacket(Pcm16Packet(samples, 2));
    }
    // Checked between every two writes once the first has made the file,
    // not from another thread, whose read may see one write half done; but
    // not where every write is split: the header's two sizes then change in
    // two writes, which a real disk splits only when it refuses bytes, and
    // a header rewrite needs none.
    std::size_t coveredWhileRecording = 0;
    beforeDiskWrite = [&] {
      if (c.disk.storesPartly || fs::file_size(path) == 0) return;
      const std::size_t covered = ExpectValidBeginning(path, 2);
      if (isRecording.load()) coveredWhileRecording = covered;
    };
    testNotifier.onPost = [&](unsigned message) {
      if (message == WM_UPDATE_VISUALS || message == WM_TAKE_SAVED) { EXPECT_EQ(threadsKeepingSystemAwake.load(), 1); }
    };
    Record(source, {.writer = {5ms, 20ms}, .files = &DISK_CALLS});
    beforeDiskWrite = nullptr;

    const auto messages = MessagesTo(window);
    const auto saving = std::find(messages.begin(), messages.end(), WM_RECORDING_SAVING);
    const bool failedWhileRecording = std::find(messages.begin(), saving, WM_WRITE_FAILED) != saving;
    // A flush that fails at the end may meet a commit after the source's
    // Stop, before WM_RECORDING_SAVING: only the others are sure.
    if (!c.disk.flushFailsAtEnd) { EXPECT_EQ(failedWhileRecording, c.disk.limit != INT64_MAX); }
    const std::size_t covered = ExpectValidBeginning(path, 2);
    if (c.coveredAtEnd == SIZE_MAX) {
      EXPECT_TRUE(coveredWhileRecording > 0 || c.disk.storesPartly) << "nothing was written while recording";
      EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::Saved);
      EXPECT_EQ(covered, next);
      EXPECT_EQ(ReadWav(path).fileSize, 80 + 2 * next);
      EXPECT_EQ(diskSecondsLeft.load(), c.secondsLeft);
      EXPECT_EQ(diskLimitIsFileSize.load(), c.disk.largest < c.disk.free);
    } else {
      if (c.coveredAtEnd != 0) { EXPECT_EQ(covered, c.coveredAtEnd); }
      EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::WriteFailed) << "a failure reported as saved";
      ASSERT_TRUE(unsavedTake.has_value());
      EXPECT_EQ(unsavedTake->error.errnoValue, c.disk.flushFailsAtEnd ? EIO : ENOSPC);
      EXPECT_EQ(std::pair(unsavedTake->sampleRate, unsavedTake->channels), std::pair(48000, 2));
      EXPECT_EQ(unsavedTake->partialFile, path.wstring());
      ASSERT_EQ(unsavedTake->samples.size(), next) << "capture stopped with the file";
      if (c.coveredAtEnd != 0) { EXPECT_EQ(unsavedTake->inFile, c.coveredAtEnd); }
      EXPECT_LE(unsavedTake->samples.Start(), unsavedTake->inFile);
      // Saved whole elsewhere, or over the part itself.
      const fs::path elsewhere = c.disk.flushFailsAtEnd ? path : dir / "elsewhere.wav";
      disk = {};
      SaveTakeMain(elsewhere.wstring(), window);
      ASSERT_EQ(testNotifier.Count(WM_TAKE_SAVED), 1u);
      EXPECT_FALSE(unsavedTake->error);
      EXPECT_EQ(fs::exists(path), elsewhere == path) << "the partial file is left, or the take removed";
      EXPECT_EQ(ExpectValidBeginning(elsewhere, 2), next);
    }
    ExpectEndedCleanly();
    testNotifier.onPost = nullptr;
    ++ran;
  }
  EXPECT_EQ(ran, 5);
}

// What the process has left to allocate in the budget case below: 1 MB
// above the margin before the first packet, less each packet's bytes.
// Asked on the recording thread, which is the one that counts the packets.
const ScriptedAudioSource* budgeted = nullptr;
constexpr std::uint64_t MARGIN = 64u << 20;
std::uint64_t BudgetLeft() { return MARGIN + (1u << 20) - 2 * 9600 * budgeted->packetsServed; }

// Once the disk has failed, memory holds the take: past the bound that ends
// a recording whose disk is too slow, until Stop, or until what memory has
// left would fall under the margin. Either way every sample waits to be
// saved elsewhere, and the take says why it ended.
TEST_F(RecordingThread, AfterTheDiskFailsMemoryHoldsTheTakeUntilStopOrItsBudget) {
  int ran = 0;
  for (const bool budget : {false, true}) {
    SCOPED_TRACE(budget);
    ResetSharedState();
    disk = {.limit = 40};  // not even the header: failed before the first packet, whatever the timing
    ScriptedAudioSource source(Pcm16Format(2, 48000));
    budgeted = &source;
    std::size_t next = 0;
    for (int p = 0; p < 200; ++p) {
      std::vector<std::int16_t> samples(9600);
      for (auto& s : samples) s = Generated(next++);
      source.AddPacket(Pcm16Packet(samples, 2));
    }
    Record(source, {.maxBehindBytes = 100'000,
                    .memoryMargin = budget ? MARGIN : RecordingLimits{}.memoryMargin,
                    .memoryLeft = budget ? BudgetLeft : [] { return UINT64_MAX; },
                    .writer = {5ms, 10ms},
                    .files = &DISK_CALLS});
    EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::WriteFailed);
    ASSERT_TRUE(unsavedTake.has_value());
    EXPECT_EQ(unsavedTake->stoppedOutOfMemory, budget);
    const std::uint64_t held = unsavedTake->samples.size();
    EXPECT_EQ(held, 9600 * source.packetsServed) << "a packet lost at the end";
    if (budget) {
      // Stopped at the first block past the budget.
      EXPECT_GT(2 * held, 1u << 20);
      EXPECT_LE(2 * held, (1u << 20) + 2 * SampleTake::BLOCK_SAMPLES + 2 * 9600);
      EXPECT_TRUE(isRecording.load()) << "ended by a Stop, not by the budget";
    } else {
      EXPECT_EQ(source.packetsServed, 200u) << "ended before Stop";
    }
    for (std::uint64_t i = unsavedTake->samples.Start(); i < held;) {
      const auto part = unsavedTake->samples.Samples(i, held);
      for (std::size_t k = 0; k < part.size(); ++k) ASSERT_EQ(part[k], Generated(i + k)) << i + k;
      i += part.size();
    }
    ExpectEndedCleanly();
    ++ran;
  }
  EXPECT_EQ(ran, 2);
}

// With the program's own timing the header covers what capture gave within
// about a second, and what it covers leaves memory, block by block.
TEST_F(RecordingThread, WriterCommitsEachSecondAndGivesBackWhatItCommitted) {
  SampleTake take;
  GrowingWavFile file(48000, 2);
  ASSERT_FALSE(file.Open(path.wstring()));
  TakeWriter writer(file, take, window);
  ASSERT_TRUE(writer.Start());
  take.Append(std::vector<std::int16_t>(2 * SampleTake::BLOCK_SAMPLES + 100));
  const auto deadline = std::chrono::steady_clock::now() + 3s;  // room for a loaded machine, not for ten
  // The writer gives the blocks back just after the header reaches the disk.
  while ((ReadWav(path).header.dataSize < 2 * take.size() || take.Start() == 0) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(ReadWav(path).header.dataSize, 2 * take.size());
  EXPECT_EQ(take.Start(), 2 * SampleTake::BLOCK_SAMPLES);
  EXPECT_FALSE(writer.Finish());
}

// A commit is due once the header would trail the newest sample by more
// than the commit interval at the next append: counted in the take's own
// samples, so that slow commits do not stretch it.
TEST(WriterTiming, CommitIsDueFromTheUncoveredSamplesAlone) {
  const WriterTiming program;  // appends every 250 ms, the header at most a second behind
  const struct {
    std::uint64_t bytes, byteRate;
    WriterTiming timing;
    bool due;
  } rows[] = {{0, 192000, program, false},          {143999, 192000, program, false},
              {144000, 192000, program, true},      {50'000'000, 192000, program, true},
              {575999, 768000, program, false},     {576000, 768000, program, true},  // 192 kHz stereo
              {1, 192000, {250ms, 250ms}, true},    {0, 192000, {250ms, 250ms}, false},
              {1, 192000, {10s, 250ms}, true},      {9599, 192000, {5ms, 55ms}, false},
              {9600, 192000, {5ms, 55ms}, true}};
  int ran = 0;
  for (const auto& r : rows) {
    EXPECT_EQ(CommitDue(r.bytes, r.byteRate, r.timing), r.due) << "row " << ran;
    ++ran;
  }
  EXPECT_EQ(ran, 11);
}

// No single code page holds umlauts, kanji and Cyrillic together: in the
// Windows build this proves the path reaches the file system as UTF-16, not
// through the ANSI code page.
TEST_F(RecordingThread, NonAsciiFileNameIsWrittenUnderExactlyThatName) {
  ScriptedAudioSource source(Pcm16Format(1, 22050));
  source.AddPacket(Pcm16Packet({1, 2, 3}, 1));
  const std::wstring name = L"Aufnahme \u00e4\u00f6\u00fc \u9332\u97f3 \u0417\u0430\u043f\u0438\u0441\u044c.wav";
  Record(source, {}, dir.wstring() + L"/" + name);
  const fs::path expected = dir / fs::path(u8"Aufnahme äöü 録音 Запись.wav");
  ASSERT_TRUE(fs::exists(expected));
  EXPECT_EQ(ReadWav(expected).samples, (std::vector<std::int16_t>{1, 2, 3}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
