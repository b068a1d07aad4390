#include "analysis/analysis_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>
#include <thread>

#include "analysis/spectrum_analyser.h"
#include "state/recorder_state.h"
#include "support/test_platform.h"

// Allocations of an analysis's working arrays fail while this is set, as
// they would on a machine out of memory.
std::atomic<bool> failLargeAllocations{false};
std::atomic<int> refusedAllocations{0};

void* operator new(std::size_t size) {
  if (failLargeAllocations.load() && size >= 65536 * sizeof(float)) {
    refusedAllocations.fetch_add(1);
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
// These replace the library's pair, so malloc and free belong together here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace {

using namespace std::chrono_literals;

// A frame whose spectrum peaks at the given bin.
AnalysisFrame ToneFrame(std::size_t bin) {
  AnalysisFrame frame(FFT_SIZE);
  for (std::size_t i = 0; i < FFT_SIZE; ++i) {
    frame[i] = static_cast<std::int16_t>(
        std::lround(20000.0 * std::cos(2.0 * std::numbers::pi * static_cast<double>(bin * i % FFT_SIZE) / 65536.0)));
  }
  return frame;
}

void Queue(AnalysisFrame frame) {
  std::lock_guard lock(queueMutex);
  frameQueue.push(std::move(frame));
  queueSignal.notify_one();
}

std::size_t Queued() {
  std::lock_guard lock(queueMutex);
  return frameQueue.size();
}

// Peak frequencies at 65536 Hz equal the bin numbers.
constexpr std::int32_t BIN_RATE = 65536;

class AnalysisWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    sampleRate = BIN_RATE;
  }
  void TearDown() override { StopAnalysisWorker(); }
};

TEST_F(AnalysisWorker, AnalysesQueuedFramesOnceEachInOrder) {
  RunWithWatchdog(
      [] {
        Queue(ToneFrame(100));
        Queue(ToneFrame(200));  // waiting before the worker starts
        StartAnalysisWorker();
        ASSERT_TRUE(testNotifier.WaitFor(WM_UPDATE_VISUALS, 2, 10s));
        Queue(ToneFrame(300));  // arrives while it sleeps
        ASSERT_TRUE(testNotifier.WaitFor(WM_UPDATE_VISUALS, 3, 10s));
        StopAnalysisWorker();
      },
      60s, "worker order");
  const auto posted = testNotifier.Posted();
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0].peakAtPost, 100.0f);
  EXPECT_EQ(posted[1].peakAtPost, 200.0f);
  EXPECT_EQ(posted[2].peakAtPost, 300.0f);
  EXPECT_EQ(Queued(), 0u);
  EXPECT_FALSE(analysisThread.joinable());
}

// The spectrogram's samples, handed over in pieces while its frames are
// wanted, come back as columns a half frame apart, none lost and none twice;
// beyond what the window may leave waiting, the oldest columns go.
TEST_F(AnalysisWorker, SpectrogramSamplesBecomeColumnsAndTheOldestGoFirst) {
  sampleRate = 48000;
  spectrogramFrameMultiple.store(1);  // 256 points, a column every 128 samples
  const auto feed = [](std::size_t samples) {
    std::lock_guard lock(queueMutex);
    spectrogramSamples.insert(spectrogramSamples.end(), samples, std::int16_t{1000});
    queueSignal.notify_one();
  };
  const auto waitForColumns = [](std::size_t count) {
    for (;;) {
      {
        std::lock_guard lock(spectrogramMutex);
        if (spectrogramColumns.size() >= count) return;
      }
      std::this_thread::sleep_for(1ms);
    }
  };
  RunWithWatchdog(
      [&] {
        StartAnalysisWorker();
        for (int i = 0; i < 10; ++i) feed(100);  // 1000 samples: 6 frames
        waitForColumns(6);
        feed(128 * 5000);  // 5000 more than the window may leave waiting
        waitForColumns(SPECTROGRAM_COLUMNS);
        for (;;) {
          {
            std::lock_guard lock(spectrogramMutex);
            if (spectrogramColumns.back().firstSample == 128 * 5005) break;
          }
          std::this_thread::sleep_for(1ms);
        }
        StopAnalysisWorker();
      },
      60s, "the spectrogram's columns");
  std::lock_guard lock(spectrogramMutex);
  ASSERT_EQ(spectrogramColumns.size(), SPECTROGRAM_COLUMNS);
  for (std::size_t i = 0; i < spectrogramColumns.size(); ++i) {
    ASSERT_EQ(spectrogramColumns[i].firstSample, 128 * (5006 - SPECTROGRAM_COLUMNS + i)) << i;
    ASSERT_EQ(spectrogramColumns[i].points, 256u);
  }
  EXPECT_TRUE(testNotifier.WaitFor(WM_UPDATE_VISUALS, 1, 1s));
}

TEST_F(AnalysisWorker, StopWhileAsleepEndsTheWorker) {
  RunWithWatchdog(
      [] {
        StartAnalysisWorker();
        std::this_thread::sleep_for(20ms);
        StopAnalysisWorker();
      },
      20s, "stop of a sleeping worker");
  EXPECT_FALSE(analysisThread.joinable());
  EXPECT_TRUE(testNotifier.Posted().empty());
}

TEST_F(AnalysisWorker, StartedWhileStoppedReturnsAtOnceLeavingTheQueue) {
  Queue(ToneFrame(10));
  RunWithWatchdog(
      [] {
        analysisThread = std::thread(AnalysisThreadMain);  // analysisRunning is false
        analysisThread.join();
      },
      20s, "worker started while stopped");
  EXPECT_EQ(Queued(), 1u);
  EXPECT_TRUE(testNotifier.Posted().empty());
}

TEST_F(AnalysisWorker, StopBeforeTheWorkerTakesLeavesFramesForTheNextOne) {
  RunWithWatchdog(
      [] {
        {
          // The worker cannot take a frame before it gets the lock, and by
          // then the stop has been requested.
          std::lock_guard lock(queueMutex);
          StartAnalysisWorker();
          frameQueue.push(ToneFrame(40));
          frameQueue.push(ToneFrame(50));
          analysisRunning.store(false);
        }
        queueSignal.notify_all();
        analysisThread.join();
      },
      20s, "stop with frames queued");
  EXPECT_EQ(Queued(), 2u);
  EXPECT_TRUE(testNotifier.Posted().empty());

  // The next recording's worker takes them first, at its own rate.
  sampleRate = 2 * BIN_RATE;
  RunWithWatchdog(
      [] {
        StartAnalysisWorker();
        ASSERT_TRUE(testNotifier.WaitFor(WM_UPDATE_VISUALS, 2, 10s));
        StopAnalysisWorker();
      },
      60s, "next worker");
  const auto posted = testNotifier.Posted();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].peakAtPost, 80.0f);
  EXPECT_EQ(posted[1].peakAtPost, 100.0f);
}

// The stop must not slip between the worker's test of its condition and
// its sleep: held open here for 200 ms, a stop made there without the lock
// would be lost, and the join would never return.
TEST_F(AnalysisWorker, StopCannotSlipBetweenTheWorkersTestAndItsSleep) {
  static std::atomic<bool> inGap{false};
  beforeWorkerSleeps = [] {
    inGap.store(true);
    std::this_thread::sleep_for(200ms);
  };
  RunWithWatchdog(
      [] {
        StartAnalysisWorker();
        while (!inGap.load()) std::this_thread::yield();
        StopAnalysisWorker();
      },
      20s, "stop during the worker's last look before sleeping");
  beforeWorkerSleeps = nullptr;
  EXPECT_FALSE(analysisThread.joinable());
}

TEST_F(AnalysisWorker, FrameWithoutMemoryIsDroppedAndTheWorkerGoesOn) {
  RunWithWatchdog(
      [] {
        failLargeAllocations.store(true);
        Queue(ToneFrame(100));
        StartAnalysisWorker();
        while (refusedAllocations.load() == 0) std::this_thread::yield();
        failLargeAllocations.store(false);
        Queue(ToneFrame(200));
        ASSERT_TRUE(testNotifier.WaitFor(WM_UPDATE_VISUALS, 1, 10s));
        StopAnalysisWorker();
      },
      60s, "worker out of memory");
  const auto posted = testNotifier.Posted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].peakAtPost, 200.0f);
}

// Starts and stops many workers in a row, with and without frames on the
// way: no stop may be lost (the join would hang), and every frame queued is
// either analysed exactly once or still waiting.
TEST_F(AnalysisWorker, ManyStartsAndStopsNeverHangOrLoseFrames) {
  std::size_t queued = 0;
  RunWithWatchdog(
      [&] {
        AnalysisFrame silent(FFT_SIZE, 0);
        for (int round = 0; round < 300; ++round) {
          StartAnalysisWorker();
          if (round % 3 == 1 && Queued() < 4) {
            Queue(silent);
            ++queued;
          }
          if (round % 7 == 0) std::this_thread::yield();
          StopAnalysisWorker();
        }
      },
      120s, "start/stop rounds");
  EXPECT_EQ(testNotifier.Count(WM_UPDATE_VISUALS) + Queued(), queued);
  EXPECT_GT(queued, 0u);
}

}  // namespace
