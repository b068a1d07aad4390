#include "support/test_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <thread>
#include <utility>

#include "capture/memory_left.h"
#include "capture/system_awake.h"
#include "state/recorder_state.h"

TestNotifier testNotifier;
std::function<std::unique_ptr<AudioSource>()> testAudioSourceFactory;

void TestNotifier::Record(WindowHandle target, unsigned message) {
  if (onPost) onPost(message);
  std::size_t spectrumBins = 0;
  {
    std::lock_guard lock(spectrumMutex);
    spectrumBins = spectrum.size();
  }
  {
    std::lock_guard lock(mutex);
    log.push_back({target, message, peakFrequencyHz.load(), stalledSeconds.load(), spectrumBins});
  }
  posted.notify_all();
}

std::vector<PostedNotification> TestNotifier::Posted() const {
  std::lock_guard lock(mutex);
  return log;
}

std::size_t TestNotifier::Count(unsigned message) const {
  std::lock_guard lock(mutex);
  return static_cast<std::size_t>(std::count_if(
      log.begin(), log.end(), [&](const PostedNotification& p) { return p.message == message; }));
}

bool TestNotifier::WaitFor(unsigned message, std::size_t count,
                           std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex);
  return posted.wait_for(lock, timeout, [&] {
    return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), [&](const PostedNotification& p) {
             return p.message == message;
           })) >= count;
  });
}

void TestNotifier::Clear() {
  std::lock_guard lock(mutex);
  log.clear();
}

void PostNotification(WindowHandle target, unsigned message) { testNotifier.Record(target, message); }

std::unique_ptr<AudioSource> CreateDefaultAudioSource() { return testAudioSourceFactory(); }

// Tests that need a volume with a largest file give their own FileCalls.
std::uint64_t LargestFileOnVolume(int) { return UINT64_MAX; }

// Tests that run out of memory give their own RecordingLimits::memoryLeft.
std::uint64_t MemoryLeft() { return UINT64_MAX; }

std::atomic<int> threadsKeepingSystemAwake{0};

void KeepSystemAwake(bool awake) {
  thread_local bool held = false;
  threadsKeepingSystemAwake += static_cast<int>(awake) - static_cast<int>(std::exchange(held, awake));
}

void ResetSharedState() {
  isRecording.store(false);
  captureActive.store(false);
  closePending.store(false);
  analysisRunning.store(false);
  levelValue.store(0.0f);
  peakLevel.store(0.0f);
  clippedPackets.store(0);
  peakFrequencyHz.store(0.0f);
  sampleRate = 44100;
  recordingOutcome.store(RecordingOutcome::None);
  startFailure = {};
  captureFailureCode = 0;
  unsavedTake.reset();
  stalledSeconds.store(0);
  diskSecondsLeft.store(UINT32_MAX);
  diskLimitIsFileSize.store(false);
  mainWindow = nullptr;
  {
    std::lock_guard lock(displayMutex);
    leftDisplay.clear();
    lastAnalysisTime = {};
  }
  {
    std::lock_guard lock(spectrumMutex);
    spectrum.clear();
    spectrumLevels = {};
  }
  spectrogramFrameMultiple.store(0);
  {
    std::lock_guard lock(spectrogramMutex);
    spectrogramColumns.clear();
  }
  {
    std::lock_guard lock(queueMutex);
    while (!frameQueue.empty()) frameQueue.pop();
    spectrogramSamples.clear();
  }
  outputPath = L"output.wav";
  testNotifier.Clear();
  testNotifier.onPost = nullptr;
}

void RunWithWatchdog(const std::function<void()>& body, std::chrono::seconds limit,
                     const char* what) {
  std::packaged_task<void()> task(body);
  auto done = task.get_future();
  std::thread runner(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "watchdog: %s did not finish within %lld s (deadlock?)\n", what,
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(3);
  }
  runner.join();
  done.get();  // rethrows a failure of the body
}

std::filesystem::path MakeTestDirectory(std::string_view name) {
  std::random_device seed;
  std::mt19937_64 random(static_cast<std::uint64_t>(seed()) << 32 ^ seed());
  for (;;) {
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "_%016llx", static_cast<unsigned long long>(random()));
    const auto dir = std::filesystem::temp_directory_path() / ("vellora_" + std::string(name) + suffix);
    // Fails for a name that exists: the folder is this process's alone.
    if (std::filesystem::create_directory(dir)) return dir;
  }
}
