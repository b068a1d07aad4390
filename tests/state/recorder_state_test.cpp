#include "state/recorder_state.h"

#include <gtest/gtest.h>

// Each test runs in a process of its own: these are the values every
// thread finds before the window exists.
TEST(RecorderState, StartsWithTheDocumentedValues) {
  EXPECT_FALSE(isRecording.load());
  EXPECT_FALSE(captureActive.load());
  EXPECT_FALSE(closePending.load());
  EXPECT_FALSE(analysisRunning.load());
  EXPECT_EQ(levelValue.load(), 0.0f);
  EXPECT_EQ(peakFrequencyHz.load(), 0.0f);
  EXPECT_EQ(sampleRate, 44100);
  EXPECT_EQ(recordingOutcome.load(), RecordingOutcome::None);
  EXPECT_EQ(mainWindow, nullptr);
  EXPECT_EQ(outputPath, L"output.wav");
  EXPECT_TRUE(leftDisplay.empty());
  EXPECT_TRUE(spectrum.empty());
  EXPECT_TRUE(windowTable.empty());
  EXPECT_TRUE(frameQueue.empty());
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_FALSE(analysisThread.joinable());
}

TEST(RecorderState, NotificationIdsFollowWmApp) {
  constexpr unsigned WM_APP_BASE = 0x8000;
  EXPECT_EQ(WM_UPDATE_VISUALS, WM_APP_BASE + 1);
  EXPECT_EQ(WM_RECORDING_DONE, WM_APP_BASE + 2);
  EXPECT_EQ(WM_RECORDING_STARTED, WM_APP_BASE + 3);
}

// One visual update waits at a time; the window's handling of it lets the next through.
TEST(RecorderState, VisualUpdatesAreCoalescedUntilHandled) {
  EXPECT_TRUE(ClaimVisualsPost());
  EXPECT_FALSE(ClaimVisualsPost());
  EXPECT_FALSE(ClaimVisualsPost());
  ReleaseVisualsPost();
  EXPECT_TRUE(ClaimVisualsPost());
}
