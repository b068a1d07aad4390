#include "app/commands.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <future>

#include "state/recorder_state.h"
#include "support/scripted_audio_source.h"
#include "support/test_platform.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class FakeWindow : public WindowOps {
 public:
  std::deque<std::wstring> answers;  // what the Save dialog returns, in turn
  std::function<void()> whileDialogOpen;
  int dialogs = 0;
  std::wstring status = L"Ready";
  bool buttonsDisabled = false;
  int invalidations = 0;
  bool destroyed = false;
  bool quitPosted = false;

  std::wstring AskSavePath() override {
    ++dialogs;
    if (whileDialogOpen) whileDialogOpen();
    if (answers.empty()) return {};
    std::wstring path = answers.front();
    answers.pop_front();
    return path;
  }
  void SetStatusText(const std::wstring& text) override { status = text; }
  void DisableButtons() override { buttonsDisabled = true; }
  void InvalidatePanels() override { ++invalidations; }
  void DestroyMainWindow() override {
    destroyed = true;
    OnDestroy(*this);
  }
  void PostQuit() override { quitPosted = true; }
};

// The message loop of the test: hands posted notifications to their
// handlers, in order, until the condition holds.
class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    mainWindow = TestWindow(0x9);
    dir = fs::temp_directory_path() /
          (std::string("vellora_commands_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    testAudioSourceFactory = [] { return LiveSource(); };
  }
  void TearDown() override {
    if (!window.destroyed) {
      isRecording.store(false);
      if (captureThread.joinable()) captureThread.join();
    }
    testAudioSourceFactory = nullptr;
    fs::remove_all(dir);
  }

  static std::unique_ptr<AudioSource> LiveSource() {
    auto source = std::make_unique<ScriptedAudioSource>(Pcm16Format(1, 48000));
    source->whenDrained = ScriptedAudioSource::WhenDrained::KeepPolling;
    source->packetInterval = 5ms;
    for (int p = 0; p < 2000; ++p) source->AddPacket(Pcm16Packet(std::vector<std::int16_t>(480, 1000), 1));
    return source;
  }

  bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      const auto posted = testNotifier.Posted();
      for (; handled < posted.size(); ++handled) {
        switch (posted[handled].message) {
          case WM_UPDATE_VISUALS: OnUpdateVisuals(window); break;
          case WM_RECORDING_STARTED: OnRecordingStarted(window); break;
          case WM_RECORDING_DONE: OnRecordingDone(window); break;
        }
        if (done()) return true;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  bool PumpUntilStatus(const std::wstring& text) {
    return PumpUntil([&] { return window.status == text; });
  }

  std::wstring PathOf(const char* name) const { return (dir / name).wstring(); }

  FakeWindow window;
  std::size_t handled = 0;
  fs::path dir;
};

TEST_F(Commands, StartRecordStopAndSave) {
  const std::wstring path = PathOf("take.wav");
  window.answers = {path};
  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 1);
  EXPECT_EQ(outputPath, path);
  ASSERT_TRUE(PumpUntilStatus(L"Recording..."));
  ASSERT_TRUE(PumpUntil([&] { return window.invalidations > 0; }));
  EXPECT_GT(levelValue.load(), 0.0f);

  OnCommand(window, ID_START);  // refused while recording
  EXPECT_EQ(window.dialogs, 1);

  OnCommand(window, ID_STOP);
  EXPECT_FALSE(isRecording.load());
  EXPECT_EQ(window.status, L"Recording...") << "unchanged until the thread has finished";
  ASSERT_TRUE(PumpUntilStatus(L"Saved to: " + path));
  EXPECT_FALSE(captureActive.load());
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_GT(fs::file_size(path), 44u);
  EXPECT_FALSE(window.destroyed);

  // Idle again: the next Start asks for a file.
  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 2);
}

TEST_F(Commands, CancelledDialogEmptiesTheDisplayAndChangesNothingElse) {
  {
    std::lock_guard lock(displayMutex);
    leftDisplay.assign(500, 3);
  }
  {
    std::lock_guard lock(spectrumMutex);
    spectrum.assign(32768, 0.5f);
  }
  levelValue.store(0.3f);
  peakFrequencyHz.store(440.0f);
  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 1);
  EXPECT_TRUE(leftDisplay.empty());
  EXPECT_TRUE(spectrum.empty());
  EXPECT_EQ(levelValue.load(), 0.3f);
  EXPECT_EQ(peakFrequencyHz.load(), 440.0f);
  EXPECT_FALSE(isRecording.load());
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_EQ(window.status, L"Ready");
  EXPECT_EQ(outputPath, L"output.wav");
}

TEST_F(Commands, StartIsRefusedWhileAFlagIsSet) {
  for (std::atomic<bool>* flag : {&isRecording, &captureActive}) {
    flag->store(true);
    {
      std::lock_guard lock(displayMutex);
      leftDisplay.assign(10, 1);
    }
    OnCommand(window, ID_START);
    EXPECT_EQ(window.dialogs, 0);
    EXPECT_EQ(leftDisplay.size(), 10u);
    flag->store(false);
  }
}

TEST_F(Commands, StopWhileIdleAndOtherCommandsDoNothing) {
  OnCommand(window, ID_STOP);
  OnCommand(window, 77);
  EXPECT_FALSE(isRecording.load());
  EXPECT_EQ(window.dialogs, 0);
  EXPECT_EQ(window.status, L"Ready");
}

TEST_F(Commands, CloseWhileRecordingWaitsForTheFileThenDestroys) {
  const std::wstring path = PathOf("closing.wav");
  window.answers = {path};
  OnCommand(window, ID_START);
  ASSERT_TRUE(PumpUntilStatus(L"Recording..."));

  OnClose(window);
  EXPECT_FALSE(isRecording.load());
  EXPECT_TRUE(window.buttonsDisabled);
  EXPECT_TRUE(closePending.load());
  EXPECT_FALSE(window.destroyed);
  EXPECT_EQ(window.status, L"Waiting for recording thread to finish...");

  OnCommand(window, ID_START);  // refused while closing
  EXPECT_EQ(window.dialogs, 1);

  ASSERT_TRUE(PumpUntil([&] { return window.destroyed; }));
  EXPECT_TRUE(window.quitPosted);
  EXPECT_EQ(window.status, L"Saved to: " + path);
  EXPECT_FALSE(closePending.load());
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_TRUE(fs::exists(path));
}

TEST_F(Commands, CloseWhileIdleDestroysAtOnce) {
  OnClose(window);
  EXPECT_TRUE(window.destroyed);
  EXPECT_TRUE(window.quitPosted);
  EXPECT_FALSE(window.buttonsDisabled);
}

TEST_F(Commands, NoDeviceTellsTheUserAndReturnsToIdle) {
  testAudioSourceFactory = [] {
    auto source = std::make_unique<ScriptedAudioSource>(FloatFormat(2, 48000));
    source->FailAt("GetDefaultAudioEndpoint");
    return std::unique_ptr<AudioSource>(std::move(source));
  };
  const std::wstring path = PathOf("never.wav");
  window.answers = {path, PathOf("second.wav")};
  OnCommand(window, ID_START);
  ASSERT_TRUE(PumpUntil([] { return !captureThread.joinable(); }));
  EXPECT_EQ(window.status, OutcomeStatusText(RecordingOutcome::CouldNotStart, path));
  EXPECT_EQ(window.status.find(L"Saved"), std::wstring::npos);
  EXPECT_FALSE(isRecording.load());
  EXPECT_FALSE(fs::exists(path));

  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 2);
  ASSERT_TRUE(PumpUntil([] { return !captureThread.joinable(); }));
}

TEST_F(Commands, UnwritablePathIsNotReportedAsSaved) {
  window.answers = {PathOf("missing folder/x.wav")};
  OnCommand(window, ID_START);
  ASSERT_TRUE(PumpUntil([] { return !captureThread.joinable(); }));
  EXPECT_EQ(window.status, L"Could not open the file for writing. Nothing was saved.");
  EXPECT_EQ(ShownErrorBoxes().size(), 1u);
  EXPECT_FALSE(captureActive.load());
}

TEST_F(Commands, StatusTextForEachOutcome) {
  const std::wstring path = L"C:\\takes\\a.wav";
  EXPECT_EQ(OutcomeStatusText(RecordingOutcome::Saved, path), L"Saved to: C:\\takes\\a.wav");
  const auto limit = OutcomeStatusText(RecordingOutcome::SavedAtLimit, path);
  EXPECT_EQ(limit.rfind(L"Saved to: C:\\takes\\a.wav", 0), 0u);
  EXPECT_NE(limit.find(L"limit"), std::wstring::npos);
  for (auto failure : {RecordingOutcome::CouldNotStart, RecordingOutcome::FileNotOpened,
                       RecordingOutcome::WriteFailed, RecordingOutcome::None}) {
    const auto text = OutcomeStatusText(failure, path);
    EXPECT_EQ(text.find(L"Saved to"), std::wstring::npos);
    EXPECT_FALSE(text.empty());
  }
}

// Stop and Start again before the first thread has even opened the device:
// the first thread's late WM_RECORDING_DONE must not end the second one.
TEST_F(Commands, StopThenStartBeforeTheThreadRunsKeepsTheNewRecording) {
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  bool first = true;
  testAudioSourceFactory = [&, opened] {
    if (first) {
      first = false;
      opened.wait();  // still "Starting": captureActive is not set yet
    }
    return LiveSource();
  };
  const std::wstring firstPath = PathOf("first.wav");
  const std::wstring secondPath = PathOf("second.wav");
  window.answers = {firstPath, secondPath};

  OnCommand(window, ID_START);
  OnCommand(window, ID_STOP);
  window.whileDialogOpen = [&] { gate.set_value(); };
  RunWithWatchdog([&] { OnCommand(window, ID_START); }, 30s, "second Start");
  window.whileDialogOpen = nullptr;
  ASSERT_EQ(window.dialogs, 2);

  ASSERT_TRUE(PumpUntil([&] { return window.status == L"Recording..." && handled >= 2; }));
  ASSERT_TRUE(PumpUntil([] { return testNotifier.Count(WM_UPDATE_VISUALS) >= 5; }));
  EXPECT_TRUE(isRecording.load()) << "the stale notification stopped the new recording";
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(PumpUntilStatus(L"Saved to: " + secondPath));
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_GT(fs::file_size(secondPath), 44u);
}

}  // namespace
