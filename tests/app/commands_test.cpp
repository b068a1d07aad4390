#include "app/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <deque>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <string_view>
#include <future>

#include "app/status_text.h"
#include "state/recorder_state.h"
#include "support/failing_allocation.h"
#include "support/scripted_audio_source.h"
#include "support/test_platform.h"

#ifdef __linux__
#include <sys/resource.h>
#endif

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Whether a text fits the status line's 340 px at 96 DPI, every character as
// wide as in Segoe UI 9 pt or wider; of a path only "...\" and the file name
// count, as the label shortens the folders.
bool FitsStatusLine(const std::wstring& text) {
  std::wstring shown = text;
  const std::size_t drive = text.find(L":\\");
  const std::size_t start = drive != std::wstring::npos ? drive - 1 : text.find(L'/');
  if (start != std::wstring::npos) {
    shown = text.substr(0, start) + L"...\\" + text.substr(text.find_last_of(L"\\/") + 1);
  }
  int width = 0;
  for (const wchar_t c : shown) {
    const auto in = [c](std::wstring_view set) { return set.find(c) != std::wstring_view::npos; };
    width += in(L"iljtfr.,:;!'()[]| I") ? 4 : in(L"mwMW") ? 11 : (c >= L'A' && c <= L'Z') || in(L"\\-_") ? 8 : 7;
  }
  return width <= 340;
}

class FakeWindow : public WindowOps {
 public:
  std::deque<std::wstring> answers;  // what the Save dialog returns, in turn
  std::function<void()> whileDialogOpen;
  bool noMemoryAfterDialog = false;  // the first allocation after the dialog fails
  int dialogs = 0;
  std::wstring status = L"Ready";
  std::vector<std::wstring> statuses;  // every text the status line was given, in order
  std::deque<Answer> yesNo;            // the answers to the questions, in turn
  std::vector<std::wstring> questions;
  std::function<void()> whileAsked;    // runs while a question is on the screen
  std::vector<std::wstring> shutdownReasons;  // given and withdrawn ("-")
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
    if (noMemoryAfterDialog) FailAllocations(1);
    return path;
  }
  void SetStatusText(const std::wstring& text) override {
    status = text;
    statuses.push_back(text);
  }
  bool FitsStatusLine(const std::wstring& text) override { return ::FitsStatusLine(text); }
  Answer AskYesNo(const std::wstring& question, bool) override {
    questions.push_back(question);
    if (whileAsked) whileAsked();
    if (yesNo.empty()) ADD_FAILURE() << "unexpected question: " << testing::PrintToString(question);
    const Answer answer = yesNo.empty() ? Answer::NoAnswer : yesNo.front();
    if (!yesNo.empty()) yesNo.pop_front();
    return answer;
  }
  void BlockShutdown(const std::wstring& reason) override { shutdownReasons.push_back(reason); }
  void AllowShutdown() override { shutdownReasons.push_back(L"-"); }
  struct Box {
    std::wstring text, caption;
    bool threadJoined;  // the recording thread had been joined when the box came up
  };
  std::vector<Box> boxes;
  void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override {
    boxes.push_back({text, caption, !captureThread.joinable() && !captureActive.load()});
  }
  std::function<void()> whileNoticeShown;
  void ShowNotice(const std::wstring& text) override {
    boxes.push_back({text, L"Vellora", true});
    if (whileNoticeShown) whileNoticeShown();
  }
  unsigned focused = ID_START;
  void FocusButton(unsigned id) override { focused = id; }
  void DisableButtons() override { buttonsDisabled = true; }
  void EnableButtons() override { buttonsDisabled = false; }
  void InvalidatePanels() override { ++invalidations; }
  void DestroyMainWindow() override {
    destroyed = true;
    OnDestroy(*this);
  }
  void PostQuit() override { quitPosted = true; }
  std::wstring documents, localAppData;
  std::map<std::wstring, std::wstring> settings;
  std::map<std::wstring, std::map<std::wstring, std::wstring>> settingsIn;  // by key
  std::wstring KnownFolder(Folder folder) override { return folder == Folder::Documents ? documents : localAppData; }
  std::wstring ReadSetting(const std::wstring& name) override { return settings[name]; }
  void WriteSetting(const std::wstring& name, const std::wstring& value) override { settings[name] = value; }
  std::vector<std::pair<std::wstring, std::wstring>> ReadSettingsIn(const std::wstring& key) override {
    return {settingsIn[key].begin(), settingsIn[key].end()};
  }
  // Every note written for the next start, with the size the file it names had then (-1: none).
  std::vector<std::pair<std::wstring, std::intmax_t>> notes;
  void WriteSettingIn(const std::wstring& key, const std::wstring& name, const std::wstring& value) override {
    std::error_code none;
    if (key == L"Rescued" && !value.empty()) notes.emplace_back(value, fs::file_size(name, none));
    value.empty() ? void(settingsIn[key].erase(name)) : void(settingsIn[key][name] = value);
  }
  std::vector<RecordingDevice> devices;            // the active recording devices
  int listings = 0;                                // times they were asked for
  std::vector<std::vector<DeviceMenuItem>> menus;  // every menu shown; the user picks entry menuPick
  int menuPick = -1;
  std::vector<RecordingDevice> ActiveRecordingDevices() override { ++listings; return devices; }
  int ShowDeviceMenu(const std::vector<DeviceMenuItem>& items) override {
    menus.push_back(items);
    return menuPick;
  }
  std::vector<std::vector<SpectrumMenuItem>> spectrumMenus;  // every spectrum menu shown; the user picks spectrumPick
  int spectrumPick = -1;
  std::function<void()> whileMenuShown;
  int ShowSpectrumMenu(const std::vector<SpectrumMenuItem>& items, int, int) override {
    spectrumMenus.push_back(items);
    if (whileMenuShown) whileMenuShown();
    return spectrumPick;
  }
  std::vector<std::wstring> clipboard;
  void CopyText(const std::wstring& text) override { clipboard.push_back(text); }
  void CopySpectrumPicture() override { clipboard.push_back(L"(picture)"); }
};

// The message loop of the test: hands posted notifications to their
// handlers, in order, until the condition holds.
class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    mainWindow = TestWindow(0x9);
    dir = MakeTestDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
    testAudioSourceFactory = [] { return LiveSource(); };
  }
  void TearDown() override {
    if (!window.destroyed) {
      isRecording.store(false);
      if (captureThread.joinable()) captureThread.join();
      if (saveThread.joinable()) saveThread.join();
    }
    testAudioSourceFactory = nullptr;
    fs::remove_all(dir);
    for (const std::wstring& text : window.statuses) {
      EXPECT_TRUE(FitsStatusLine(text)) << "too long for the status line: " << testing::PrintToString(text);
    }
  }

  static std::unique_ptr<AudioSource> LiveSource() {
    auto source = std::make_unique<ScriptedAudioSource>(Pcm16Format(1, 48000));
    source->whenDrained = ScriptedAudioSource::WhenDrained::KeepPolling;
    source->packetInterval = 5ms;
    for (int p = 0; p < 2000; ++p) source->AddPacket(Pcm16Packet(std::vector<std::int16_t>(480, 1000), 1));
    return source;
  }

  // Like a message queue, delivers each posted message exactly once: the
  // count moves past a message before its handler runs, so a return right
  // after it cannot hand the same message over again.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      const auto posted = testNotifier.Posted();
      while (handled < posted.size()) {
        const std::size_t index = handled++;
        delivered.resize(posted.size());
        EXPECT_FALSE(delivered[index]) << "posted message " << index << " was handled twice";
        delivered[index] = true;
        switch (posted[index].message) {
          case WM_UPDATE_VISUALS: OnUpdateVisuals(window); break;
          case WM_RECORDING_STARTED: OnRecordingStarted(window); break;
          case WM_RECORDING_SAVING: OnRecordingSaving(window); break;
          case WM_RECORDING_DONE: OnRecordingDone(window); break;
          case WM_TAKE_SAVED: OnTakeSaved(window); break;
          case WM_CAPTURE_STALLED: OnCaptureStalled(window); break;
          case WM_WRITE_FAILED: OnWriteFailed(window); break;
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

  // Start, the path chosen in the dialog, and the recording running: the
  // status line says so, and ends with the notice.
  bool StartRecordingTo(const std::wstring& path, const std::wstring& notice = L"") {
    window.answers.push_front(path);
    OnCommand(window, ID_START);
    return PumpUntil([&] { return window.status.starts_with(L"Recording... ") && window.status.ends_with(notice); });
  }

  std::wstring PathOf(const char* name) const { return (dir / name).wstring(); }

#ifdef __linux__
  // Start, recording into path on a disk that takes 4000 bytes of it: the
  // file stops part-way, a regular file that holds the take's beginning.
  bool StartRecordingIntoAShortFile(const std::wstring& path) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{4000, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const bool started = StartRecordingTo(path, L"(not saved: file too large)");
    setrlimit(RLIMIT_FSIZE, &limit);
    return started;
  }
#endif

  FakeWindow window;
  std::size_t handled = 0;      // posted messages handed to their handlers
  std::vector<bool> delivered;  // by index in the posted log
  fs::path dir;
};

TEST_F(Commands, StartRecordStopAndSave) {
  const std::wstring path = PathOf("take.wav");
  window.answers = {path};
  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 1);
  EXPECT_EQ(outputPath, path);
  ASSERT_TRUE(PumpUntilStatus(L"Recording... 0:00"));
  EXPECT_EQ(window.focused, ID_STOP) << "Space would not stop what it started";
  // The take's own time, from its samples: the source delivers twice as
  // fast as a clock.
  ASSERT_TRUE(PumpUntilStatus(L"Recording... 0:01"));
  EXPECT_GT(window.invalidations, 0);
  // A handled update lets the next one be posted.
  (void)ClaimVisualsPost();
  OnUpdateVisuals(window);
  EXPECT_TRUE(ClaimVisualsPost());
  ReleaseVisualsPost();
  EXPECT_GT(levelValue.load(), 0.0f);

  OnCommand(window, ID_START);  // refused while recording
  EXPECT_EQ(window.dialogs, 1);

  OnCommand(window, ID_STOP);
  EXPECT_FALSE(isRecording.load());
  EXPECT_EQ(window.status, L"Recording... 0:01") << "unchanged until the thread has finished";
  ASSERT_TRUE(PumpUntilStatus(L"Saved to: " + path));
  EXPECT_EQ(std::vector<std::wstring>(window.statuses.end() - 3, window.statuses.end()),
            (std::vector<std::wstring>{L"Recording... 0:01", L"Saving the recording...", window.status}));
  EXPECT_FALSE(captureActive.load());
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_GT(fs::file_size(path), 80u);
  EXPECT_FALSE(window.destroyed);
  EXPECT_EQ(window.focused, ID_START);
  EXPECT_EQ(window.listings, 0) << "devices listed with none chosen";

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

// The close comes before the recording's news of its start and of its
// saving: neither may replace what the status line says about the close.
TEST_F(Commands, CloseWhileRecordingWaitsForTheFileThenDestroys) {
  const std::wstring path = PathOf("closing.wav");
  window.answers = {path};
  OnCommand(window, ID_START);
  ASSERT_TRUE(testNotifier.WaitFor(WM_RECORDING_STARTED, 1, 20s));

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
  EXPECT_EQ(window.statuses,
            (std::vector<std::wstring>{L"Waiting for recording thread to finish...", L"Saved to: " + path}));
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

// No device, then no memory for the recording thread: each time the window
// says so and is idle again.
TEST_F(Commands, NoDeviceOrNoThreadTellsTheUserAndReturnsToIdle) {
  testAudioSourceFactory = [] {
    auto source = std::make_unique<ScriptedAudioSource>(FloatFormat(2, 48000));
    source->FailAt("GetDefaultAudioEndpoint", static_cast<AudioResult>(0x80070490u));  // E_NOTFOUND
    return std::unique_ptr<AudioSource>(std::move(source));
  };
  const std::wstring path = PathOf("never.wav");
  window.answers = {path, PathOf("second.wav"), PathOf("third.wav")};
  OnCommand(window, ID_START);
  ASSERT_TRUE(PumpUntil([] { return !captureThread.joinable(); }));
  EXPECT_EQ(window.status, L"Could not start recording. Nothing was saved.");
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].text,
            L"Could not start recording: no recording device is available (error 0x80070490). Nothing was saved.");
  EXPECT_FALSE(isRecording.load());
  EXPECT_FALSE(fs::exists(path));

  window.noMemoryAfterDialog = true;
  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 2);
  EXPECT_EQ(window.status, L"Could not start recording. Nothing was saved.");
  EXPECT_EQ(window.boxes.size(), 1u);
  EXPECT_FALSE(isRecording.load());
  EXPECT_FALSE(captureThread.joinable());

  window.noMemoryAfterDialog = false;
  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 3);
  ASSERT_TRUE(PumpUntil([] { return !captureThread.joinable(); }));
}

// The box comes from the window, after the join: the recording thread never
// waits for the window, so no join can hang on it.
TEST_F(Commands, UnwritablePathIsNotReportedAsSaved) {
  window.answers = {PathOf("missing folder/x.wav")};
  OnCommand(window, ID_START);
  ASSERT_TRUE(PumpUntil([&] { return !window.boxes.empty(); }));
  EXPECT_EQ(window.status, L"Could not open the file for writing. Nothing was saved.");
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].text, L"Cannot open file for writing");
  EXPECT_EQ(window.boxes[0].caption, L"Error");
  EXPECT_TRUE(window.boxes[0].threadJoined);
}

// Closing right behind the Save dialog's OK, before the thread has set
// captureActive: the window waits for the thread's news, then goes, and
// shows no box once it has gone.
TEST_F(Commands, CloseWhileStartingOntoAnUnwritablePathEnds) {
  window.answers = {PathOf("missing folder/x.wav")};
  testAudioSourceFactory = [] {
    std::this_thread::sleep_for(50ms);  // still "Starting" when the close comes
    return LiveSource();
  };
  OnCommand(window, ID_START);
  OnClose(window);
  EXPECT_EQ(window.status, L"Waiting for recording thread to finish...");
  ASSERT_TRUE(PumpUntil([&] { return window.destroyed; }));
  EXPECT_TRUE(window.quitPosted);
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_TRUE(window.boxes.empty()) << "no box once the window is gone";

  // A Start whose dialog was open when the window went: no thread is left behind.
  window.answers = {PathOf("late.wav")};
  OnStart(window);
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_FALSE(isRecording.load());
}

TEST_F(Commands, StalledDeviceShowsWhileRecordingAndClearsWhenPacketsFlow) {
  const std::wstring path = PathOf("stall.wav");
  ASSERT_TRUE(StartRecordingTo(path));
  stalledSeconds.store(3);
  OnCaptureStalled(window);
  EXPECT_TRUE(window.status.ends_with(L" (no sound for 3 s)")) << window.status;
  stalledSeconds.store(0);
  OnCaptureStalled(window);
  EXPECT_EQ(window.status.find(L'('), std::wstring::npos) << window.status;
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(PumpUntilStatus(L"Saved to: " + path));
  stalledSeconds.store(4);
  OnCaptureStalled(window);  // late news of a recording that has ended
  EXPECT_EQ(window.status, L"Saved to: " + path);
}

// Independent expectations for every text the status line can show after a
// recording, including the cause and code of each kind of start failure.
TEST(StatusText, EveryOutcomeSaysWhatHappened) {
  const std::wstring path = L"C:\\Users\\Someone\\Documents\\Interviews\\Interview 12.wav";
  const std::wstring saved = L"Saved to: " + path;
  const std::wstring couldNotStart = L"Could not start recording. Nothing was saved.";
  const struct {
    RecordingOutcome outcome;
    StartFailure failure;
    std::wstring text, box;
  } cases[] = {
      {RecordingOutcome::Saved, {}, saved + L" (9999 gaps)", L""},
      {RecordingOutcome::SavedDiskTooSlow, {}, saved + L" (stopped: disk too slow)", L""},
      {RecordingOutcome::SavedDeviceLost, {}, saved + L" (stopped: device lost)", L""},
      {RecordingOutcome::SavedOutOfMemory, {}, saved + L" (stopped: out of memory)", L""},
      {RecordingOutcome::SavedServiceStopped, {}, saved + L" (audio service stopped)", L""},
      {RecordingOutcome::SavedCaptureFailed, {}, saved + L" (device error 0x8889000F)", L""},
      {RecordingOutcome::CouldNotStart, {StartStep::Initialize, 0x8889000A}, couldNotStart,
       L"Could not start recording: the recording device is in use by another program (error 0x8889000A). "
       L"Nothing was saved."},
      {RecordingOutcome::CouldNotStart, {StartStep::Initialize, 0x88890008}, couldNotStart,
       L"Could not start recording: the recording device refused the recording stream (error 0x88890008). "
       L"Nothing was saved."},
      {RecordingOutcome::CouldNotStart, {StartStep::ActivateAudioClient, 0x80070005}, couldNotStart,
       L"Could not start recording: access to the microphone was denied (see the microphone privacy settings) "
       L"(error 0x80070005). Nothing was saved."},
      {RecordingOutcome::CouldNotStart, {StartStep::GetDefaultAudioEndpoint, 0x80004005}, couldNotStart,
       L"Could not start recording: the default recording device could not be found (error 0x80004005). "
       L"Nothing was saved."},
      {RecordingOutcome::CouldNotStart, {StartStep::Start, 0x88890004}, couldNotStart,
       L"Could not start recording: the recording device was disconnected (error 0x88890004). Nothing was saved."},
      {RecordingOutcome::CouldNotStart, {StartStep::StartAnalysisWorker, 0}, couldNotStart,
       L"Could not start recording: no thread could be started for the spectrum. Nothing was saved."},
      {RecordingOutcome::FormatNotSupported, {}, couldNotStart,
       L"Could not start recording: the recording device's sample format is not supported. Nothing was saved."},
      {RecordingOutcome::FileNotOpened, {}, L"Could not open the file for writing. Nothing was saved.",
       L"Cannot open file for writing"},
      {RecordingOutcome::WriteFailed, {}, L"Writing the file failed. The recording was not saved.", L""},
  };
  int ran = 0;
  for (const auto& c : cases) {
    const std::wstring text = OutcomeStatusText(c.outcome, path, 0x8889000F, 9999);
    EXPECT_EQ(text, c.text) << "case " << ran;
    EXPECT_TRUE(FitsStatusLine(text)) << "case " << ran;
    EXPECT_EQ(OutcomeBoxText(c.outcome, c.failure), c.box) << "case " << ran;
    ++ran;
  }
  EXPECT_EQ(ran, 15);
  EXPECT_EQ(OutcomeStatusText(RecordingOutcome::Saved, path, 0, 2, 1), saved + L" (clipped 1 time)");
  EXPECT_FALSE(FitsStatusLine(saved + L" (stopped: the recording device was lost)")) << "the measure itself";
}

// The samples of a WAV file, after checking that its header describes it.
std::vector<std::int16_t> WavSamples(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (bytes.size() < 80) return {};
  std::uint32_t dataBytes = 0;
  std::memcpy(&dataBytes, bytes.data() + 76, 4);
  EXPECT_EQ(dataBytes, bytes.size() - 80) << "the header does not describe the file";
  std::vector<std::int16_t> samples((bytes.size() - 80) / 2);
  std::memcpy(samples.data(), bytes.data() + 80, samples.size() * 2);
  return samples;
}

const std::wstring NOT_SAVED = L"(not saved: disk full)";

// The disk refuses the file while recording: the status line says so at
// once, and at Stop the user is asked where else to save the take, again
// after a place that gets no thread or fails too, until one takes it. A
// place that was never tried is never blamed.
TEST_F(Commands, TakeTheDiskRefusesIsSavedElsewhere) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::wstring missing = PathOf("missing folder/x.wav"), kept = PathOf("kept.wav");
  window.answers = {missing, missing, kept};
  window.yesNo = {Answer::Yes, Answer::Yes, Answer::Yes};
  window.whileDialogOpen = [&] { window.noMemoryAfterDialog = window.dialogs == 2; };  // no thread for the first place
  ASSERT_TRUE(StartRecordingTo(L"/dev/full", NOT_SAVED));
  ASSERT_TRUE(PumpUntil([] { return testNotifier.Count(WM_UPDATE_VISUALS) >= 3; }));
  OnCommand(window, ID_STOP);
  // The save to the missing folder runs: the window waits for it, which fails, then for the answer and the next save.
  ASSERT_TRUE(PumpUntil([&] { return std::ranges::count(window.statuses, L"Saving the recording...") == 2; }));
  OnClose(window);
  EXPECT_TRUE(window.buttonsDisabled && !window.destroyed);
  ASSERT_TRUE(PumpUntilStatus(L"Saved to: " + kept));
  EXPECT_TRUE(window.destroyed);

  ASSERT_EQ(window.questions.size(), 3u);
  EXPECT_NE(window.questions[0].find(L"/dev/full\nbecause the disk is full."), std::wstring::npos);
  EXPECT_EQ(window.questions[1], window.questions[0]);
  EXPECT_NE(window.questions[2].find(missing + L"\nbecause the disk or folder is no longer there."),
            std::wstring::npos);
  const auto saving = std::find(window.statuses.begin(), window.statuses.end(), L"Saving the recording...");
  EXPECT_EQ(std::vector<std::wstring>(saving, window.statuses.end()),
            (std::vector<std::wstring>{L"Saving the recording...", L"Not saved yet: disk full.",
                                       L"Could not start saving: no thread was free.", L"Saving the recording...",
                                       L"Not saved yet: disk or folder gone.", L"Saving the recording...",
                                       L"Saved to: " + kept}));
  const auto samples = WavSamples(kept);
  EXPECT_GE(samples.size(), 3 * 480u);
  EXPECT_EQ(samples.size() % 480, 0u);
  EXPECT_EQ(std::count(samples.begin(), samples.end(), 1000), static_cast<std::ptrdiff_t>(samples.size()));
  EXPECT_FALSE(unsavedTake.has_value());
  EXPECT_FALSE(saveThread.joinable());
}

// The session ends while the question is on the screen: the take goes to
// the rescue folder before the handler returns, under a name no other
// rescue took, nothing more is asked, and the next start tells of every
// rescued take, another process's too.
TEST_F(Commands, SessionEndWhileAskingKeepsTheTakeInTheRescueFolder) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const fs::path folder = dir / "Documents" / "Vellora";
  fs::create_directories(folder);
  std::vector<fs::path> taken;  // another process's rescues, in this second and the next two
  for (std::time_t t = std::time(nullptr); t < std::time(nullptr) + 3; ++t) {
    wchar_t stamp[32];
    std::wcsftime(stamp, 32, L"%Y-%m-%d %H-%M-%S", std::localtime(&t));
    std::ofstream(taken.emplace_back(folder / (std::wstring(L"Recording ") + stamp + L".wav"))) << "x";
  }
  window.documents = PathOf("Documents");
  window.yesNo = {Answer::No};  // if the process lives on after the session's end
  window.whileAsked = [&] { OnEndSession(window, true); };
  ASSERT_TRUE(StartRecordingTo(L"/dev/full", NOT_SAVED));
  ASSERT_TRUE(PumpUntil([] { return testNotifier.Count(WM_UPDATE_VISUALS) >= 3; }));
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(PumpUntil([&] { return !window.questions.empty(); }));
  EXPECT_EQ(window.questions.size(), 1u);
  const std::wstring rescued = window.status.substr(10);
  EXPECT_EQ(rescued.rfind((folder / "Recording ").wstring(), 0), 0u) << rescued;
  EXPECT_TRUE(rescued.ends_with(L" (2).wav")) << rescued;
  for (const auto& other : taken) EXPECT_EQ(fs::file_size(other), 1u) << "another rescue overwritten";
  const auto samples = WavSamples(rescued);
  EXPECT_GE(samples.size(), 3 * 480u);
  EXPECT_EQ(std::count(samples.begin(), samples.end(), 1000), static_cast<std::ptrdiff_t>(samples.size()));

  window.WriteSettingIn(L"Rescued", L"/earlier.wav", L"Another take.");  // sorts first
  // The session ends while the box is up: told again at the next start;
  // dismissed, told no more.
  window.whileNoticeShown = [&] { OnEndSession(window, true); };
  for (const bool ended : {true, false}) {
    OnStartup(window);
    EXPECT_EQ(window.status, L"Saved to: " + rescued);
    ASSERT_FALSE(window.boxes.empty());
    EXPECT_EQ(window.boxes.back().text,
              L"Another take.\n\nWhen Windows ended the session, the recording was saved to\n" + rescued);
    EXPECT_EQ(window.ReadSettingsIn(L"Rescued").size(), ended ? 2u : 0u);
    window.whileNoticeShown = nullptr;
  }
}

// Documents cannot take the rescue: the next place does, and only its
// note is left. The note comes before the first sample, so that a save that
// Windows cuts short is still told of.
TEST_F(Commands, RescueGoesToTheNextPlaceAndIsNotedBeforeItsSamples) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::ofstream(dir / "a file") << "x";
  window.documents = PathOf("a file");  // no folder can be made in it
  window.localAppData = PathOf("Local");
  window.yesNo = {Answer::No};  // if the process lives on after the session's end
  window.whileAsked = [&] { OnEndSession(window, true); };
  ASSERT_TRUE(StartRecordingTo(L"/dev/full", NOT_SAVED));
  ASSERT_TRUE(PumpUntil([] { return testNotifier.Count(WM_UPDATE_VISUALS) >= 3; }));
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(PumpUntil([&] { return !window.questions.empty(); }));
  const std::wstring rescued = window.status.substr(10);
  EXPECT_EQ(rescued.rfind((dir / "Local" / "Vellora" / "Recording ").wstring(), 0), 0u) << rescued;
  ASSERT_EQ(window.notes.size(), 2u);
  EXPECT_EQ(window.notes[0].first.rfind(L"When Windows ended the session, the recording (0 s) was being saved to\n" +
                                            rescued + L"\nwhich holds",
                                        0),
            0u)
      << testing::PrintToString(window.notes[0].first);
  EXPECT_EQ(window.notes[0].second, 80) << "noted after the samples, or before the file";
  EXPECT_EQ(window.notes[1].first, L"When Windows ended the session, the recording was saved to\n" + rescued);
  EXPECT_EQ(window.ReadSettingsIn(L"Rescued"),
            (std::vector<std::pair<std::wstring, std::wstring>>{{rescued, window.notes[1].first}}));
  EXPECT_GE(WavSamples(rescued).size(), 3 * 480u);
}

// Only an explicit discard throws a take away. A Start, a close and the end
// of the session that come while the question is open wait for the answer.
// Before the take's news is handled, a Start is refused and a close waits;
// a question box that cannot be shown decides nothing, and gives up the close.
TEST_F(Commands, UnsavedTakeIsDiscardedOnlyWhenTheUserSaysSo) {
#ifndef __linux__
  GTEST_SKIP() << "needs RLIMIT_FSIZE";
#else
  // Files may grow to 4000 bytes: the take's own file stops part-way, a
  // regular file that holds the take's beginning, and so does every rescue.
  const std::wstring path = PathOf("take.wav");
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{4000, limit.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  window.yesNo = {Answer::NoAnswer};
  ASSERT_TRUE(StartRecordingTo(path, L"(not saved: file too large)"));
  ASSERT_TRUE(PumpUntil([] { return testNotifier.Count(WM_UPDATE_VISUALS) >= 20; }));
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(testNotifier.WaitFor(WM_RECORDING_DONE, 1, 20s));
  while (captureActive.load()) std::this_thread::sleep_for(1ms);  // the thread has ended
  OnCommand(window, ID_START);
  OnClose(window);
  EXPECT_TRUE(window.questions.empty());
  ASSERT_TRUE(PumpUntilStatus(L"Not saved yet: file too large."));
  EXPECT_EQ(window.questions.size(), 1u) << "asked again and again";
  EXPECT_FALSE(window.destroyed || window.buttonsDisabled);
  window.yesNo = {Answer::NoAnswer};
  OnClose(window);  // asks first; a box that cannot be shown keeps both
  EXPECT_EQ(window.questions.size(), 2u);
  EXPECT_FALSE(window.destroyed || window.buttonsDisabled);
  OnEndSession(window, true);  // no place takes the rest: the next start says what was lost
  const std::wstring lost = window.settingsIn[L"Rescued"].begin()->second;
  EXPECT_TRUE(lost.ends_with(L" were lost. The first part is (0 s) in\n" + path)) << testing::PrintToString(lost);
  ASSERT_TRUE(unsavedTake.has_value()) << "dropped unasked";
  setrlimit(RLIMIT_FSIZE, &limit);

  window.yesNo = {Answer::No, Answer::No, Answer::No, Answer::Yes};  // not discarded, then discarded
  window.whileAsked = [&] {
    if (window.questions.size() != 4) return;
    OnCommand(window, ID_START);
    OnClose(window);
    OnEndSession(window, false);  // cancelled
  };
  OnCommand(window, ID_START);
  EXPECT_TRUE(window.destroyed);
  EXPECT_EQ(window.dialogs, 1) << "a Save dialog for a second recording, or for a window that has gone";
  ASSERT_EQ(window.questions.size(), 6u);
  EXPECT_EQ(window.questions[3].rfind(L"Discard the recording (", 0), 0u);
  EXPECT_EQ(window.questions[5], window.questions[3]);
  EXPECT_EQ(window.shutdownReasons, (std::vector<std::wstring>{L"Saving the recording", L"-"}));
  EXPECT_EQ(window.status, L"The recording was discarded.");
  EXPECT_FALSE(unsavedTake.has_value());
  EXPECT_FALSE(fs::exists(path)) << "the discarded take's beginning is left behind";
  OnStartup(window);
  EXPECT_EQ(window.status, RECORDING_LOST_TEXT);
#endif
}

// The session ends while a save elsewhere runs that can write only the rest,
// the partial file's disk being gone: the save is finished first, and the
// next start says where each part is.
TEST_F(Commands, SessionEndDuringASaveOfTheRestSaysWhereEachPartIs) {
#ifndef __linux__
  GTEST_SKIP() << "needs RLIMIT_FSIZE";
#else
  const std::wstring path = PathOf("take.wav"), kept = PathOf("kept.wav");
  ASSERT_TRUE(StartRecordingIntoAShortFile(path)) << testing::PrintToString(window.statuses);
  window.yesNo = {Answer::Yes};
  window.answers = {kept};
  window.whileDialogOpen = [&] { fs::remove(path); };  // the stick is pulled
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(PumpUntil([&] { return std::ranges::count(window.statuses, L"Saving the recording...") == 2; }));
  OnEndSession(window, true);
  OnStartup(window);
  EXPECT_EQ(window.status, L"Saved to: " + kept);
  ASSERT_FALSE(window.boxes.empty());
  const std::wstring& notice = window.boxes.back().text;
  EXPECT_TRUE(notice.starts_with(L"The first part of the recording (0 s) could not be read back from\n" + path) &&
              notice.ends_with(L") was saved to\n" + kept)) << testing::PrintToString(notice);
  EXPECT_GE(WavSamples(kept).size(), 3 * 480u) << "the save was not finished first";
#endif
}

// The partial file cannot be read back and the user picks its own name:
// the rest goes beside it, never over the beginning, and the box says
// where each part is. Its note stays until the box is dismissed: a
// session's end meanwhile leaves it for the next start.
TEST_F(Commands, RestSavedOverThePartialFileGoesBesideIt) {
#ifndef __linux__
  GTEST_SKIP() << "needs RLIMIT_FSIZE";
#else
  const std::wstring path = PathOf("take.wav"), rest = PathOf("take (rest).wav");
  ASSERT_TRUE(StartRecordingIntoAShortFile(path)) << testing::PrintToString(window.statuses);
  window.yesNo = {Answer::Yes};
  window.answers = {path};
  std::string beginning;
  window.whileDialogOpen = [&] {
    std::fstream(fs::path(path), std::ios::in | std::ios::out | std::ios::binary).write("JUNK", 4);  // no WAV file any more
    std::ifstream in(fs::path(path), std::ios::binary);
    beginning.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  std::vector<std::size_t> notesWhileShown;
  window.whileNoticeShown = [&] {
    notesWhileShown.push_back(window.ReadSettingsIn(L"Rescued").size());
    OnEndSession(window, true);
  };
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(PumpUntilStatus(L"Saved to: " + rest));
  ASSERT_EQ(window.boxes.size(), 1u);
  const std::wstring notice = window.boxes[0].text;
  EXPECT_TRUE(notice.starts_with(L"The first part of the recording (0 s) could not be read back from\n" + path) &&
              notice.ends_with(L") was saved to\n" + rest)) << testing::PrintToString(notice);
  std::ifstream in(fs::path(path), std::ios::binary);
  EXPECT_GT(beginning.size(), 80u);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), beginning)
      << "the beginning was replaced";
  EXPECT_GE(WavSamples(rest).size(), 3 * 480u);
  EXPECT_EQ(notesWhileShown, std::vector<std::size_t>{1});
  window.whileNoticeShown = nullptr;
  OnStartup(window);
  EXPECT_EQ(window.status, L"Saved to: " + rest);
  EXPECT_EQ(window.boxes.back().text, notice);
  EXPECT_TRUE(window.ReadSettingsIn(L"Rescued").empty());
#endif
}

// The session ends during a recording: the take is in its file before the
// handler returns, and the reason is shown meanwhile. A session end that is
// cancelled leaves the recording running.
TEST_F(Commands, SessionEndSavesTheRecordingFirst) {
  const std::wstring path = PathOf("shutdown.wav");
  ASSERT_TRUE(StartRecordingTo(path));
  OnEndSession(window, false);
  ASSERT_TRUE(PumpUntil([] { return testNotifier.Count(WM_UPDATE_VISUALS) >= 5; }));
  EXPECT_TRUE(isRecording.load());
  EXPECT_TRUE(window.shutdownReasons.empty());

  OnEndSession(window, true);
  EXPECT_EQ(window.shutdownReasons, (std::vector<std::wstring>{L"Saving the recording", L"-"}));
  EXPECT_FALSE(captureThread.joinable());
  EXPECT_GE(WavSamples(path).size(), 5 * 480u);
}

TEST(StatusText, FileErrorsSayWhyAndTakesHowLong) {
  const struct {
    FileError error;
    std::wstring cause, shortCause;
  } causes[] = {
      {{ENOSPC, 112}, L"the disk is full", L"disk full"},  // ERROR_DISK_FULL
      {{ENOSPC, 0}, L"the disk is full", L"disk full"},    // a short write, no system code
      {{EACCES, 19}, L"the disk is write-protected", L"disk write-protected"},
      {{EBADF, 5}, L"Windows denied access to the file", L"access denied"},
      {{EACCES, 1167}, L"the disk or folder is no longer there", L"disk or folder gone"},  // not connected
      {{EINVAL, 223}, L"the file is too large for this disk", L"file too large"},
      {{EFBIG, 0}, L"the file is too large for this disk", L"file too large"},
      // FAT32 refuses the write past 4 GB as a full disk would.
      {{EFBIG, 112}, L"the file is too large for this disk", L"file too large"},
      {{EROFS, 0}, L"the disk is write-protected", L"disk write-protected"},
      {{EIO, 0}, L"the disk or folder is no longer there", L"disk or folder gone"},
      {{EINVAL, 12345}, L"Windows reported error 12345", L"error 12345"},
      {{EMLINK, 0}, L"the system reported error " + std::to_wstring(EMLINK),
       L"system error " + std::to_wstring(EMLINK)},
  };
  for (const auto& c : causes) {
    EXPECT_EQ(FileErrorCause(c.error), c.cause) << c.error.systemCode;
    EXPECT_EQ(WriteFailedStatusText(c.error), L"Not saved yet: " + c.shortCause + L".");
    // A take of days and each notice: the notice is whole, and it fits.
    const std::wstring recording = RecordingStatusText({.seconds = 359999, .gaps = 9999, .clips = 9999, .notSaved = true,
                                                        .writeError = c.error, .stalledSeconds = 999,
                                                        .diskSecondsLeft = 59});
    EXPECT_EQ(recording, L"Recording... 99:59:59 (not saved: " + c.shortCause + L")");
    EXPECT_TRUE(FitsStatusLine(recording)) << testing::PrintToString(recording);
  }

  // A recording that memory ended says so, on the line and in the question.
  EXPECT_EQ(WriteFailedStatusText({ENOSPC, 112}, true), L"Not saved yet: disk full (stopped: out of memory).");
  EXPECT_NE(SaveElsewhereQuestion(L"D:\\take.wav", {ENOSPC, 112}, L"5 s", true)
                .find(L"The recording (5 s, stopped when memory ran out) is still here."),
            std::wstring::npos);

  EXPECT_EQ(TakeLengthText(2 * 48000 * 59 + 1, 2, 48000), L"59 s");
  EXPECT_EQ(TakeLengthText(44100 * 252, 1, 44100), L"4 min 12 s");
  EXPECT_EQ(TakeLengthText(2 * 48000 * 3725, 2, 48000), L"1 h 02 min 05 s");

  EXPECT_EQ(RecordingStatusText({.seconds = 42}), L"Recording... 0:42");
  EXPECT_EQ(RecordingStatusText({.seconds = 3723, .gaps = 1}), L"Recording... 1:02:03 (1 gap)");
  EXPECT_EQ(RecordingStatusText({.seconds = 5, .gaps = 1, .clips = 3}), L"Recording... 0:05 (clipped 3 times)");
  EXPECT_EQ(RecordingStatusText({.seconds = 600, .gaps = 2, .clips = 3, .stalledSeconds = 3}),
            L"Recording... 10:00 (no sound for 3 s)");
  // The disk's free time, counted down from just under ten minutes, ahead of a silent device.
  // The minutes are rounded up.
  const std::pair<std::uint32_t, const wchar_t*> countdown[] = {
      {599, L"10"}, {120, L"2"}, {119, L"2"}, {61, L"2"}, {60, L"1"}, {1, L"1"}, {0, L"0"}};
  for (const auto& [seconds, minutes] : countdown) {
    EXPECT_EQ(RecordingStatusText({.stalledSeconds = 3, .diskSecondsLeft = seconds}),
              L"Recording... 0:00 (disk full in " + std::wstring(minutes) + L" min)");
  }
  EXPECT_EQ(RecordingStatusText({.diskSecondsLeft = 61, .fileSizeLimit = true}), L"Recording... 0:00 (4 GB limit in 2 min)");
  EXPECT_EQ(RecordingStatusText({.stalledSeconds = 3, .diskSecondsLeft = 600}), L"Recording... 0:00 (no sound for 3 s)");
}

// Stop and Start again before the first thread has even opened the device:
// the new Start waits until the first recording has been saved, so that
// nothing of the first can be mistaken for the second.
TEST_F(Commands, StartIsRefusedUntilTheStoppedRecordingIsSaved) {
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
  window.answers = {firstPath};

  OnCommand(window, ID_START);
  OnCommand(window, ID_STOP);
  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 1) << "a second recording started before the first was saved";
  gate.set_value();
  ASSERT_TRUE(PumpUntilStatus(L"Saved to: " + firstPath));

  ASSERT_TRUE(StartRecordingTo(secondPath));
  ASSERT_TRUE(PumpUntil([] { return testNotifier.Count(WM_UPDATE_VISUALS) >= 5; }));
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(PumpUntilStatus(L"Saved to: " + secondPath));
  EXPECT_EQ(window.dialogs, 2);
  EXPECT_GT(fs::file_size(secondPath), 80u);
}

// The device menu's pick is what the next recording opens and the next start
// remembers, fixed while recording; a device that goes is given up aloud,
// and taken again aloud when it comes back.
TEST_F(Commands, ChosenDeviceIsRecordedRememberedAndGivenUpOnlyAloud) {
  const std::wstring gone = L"USB & Mic is not connected: recording the default device.";
  const auto shown = [&](std::size_t m) {  // "[x]" checked, "(-)" disabled
    std::wstring text;
    for (const DeviceMenuItem& item : window.menus.at(m)) {
      text += (item.checked ? L"[x]" : L"[ ]") + item.text + (item.enabled ? L"|" : L"(-)|");
    }
    return text;
  };
  ScriptedAudioSource* source = nullptr;
  bool listedButGone = false;  // Windows lists the device, but it cannot be opened
  testAudioSourceFactory = [&] {
    auto live = LiveSource();
    source = static_cast<ScriptedAudioSource*>(live.get());
    // Unplugged between the check and the opening: Windows still knows the id.
    if (window.devices.empty()) source->deviceState = 4;
    if (listedButGone) source->FailAt("Initialize", RESULT_ENDPOINT_CREATE_FAILED);
    return live;
  };
  const auto record = [&](const char* name) {  // the device it opened
    EXPECT_TRUE(StartRecordingTo(PathOf(name)));
    const std::wstring opened = source->openedDevice;
    OnCommand(window, ID_STOP);
    EXPECT_TRUE(PumpUntil([] { return !captureThread.joinable(); }));
    return opened;
  };
  window.devices = {{L"{headset}", L"Headset"}, {L"{usb}", L"USB & Mic"}};
  window.menuPick = 2;
  OnCommand(window, ID_DEVICE);
  EXPECT_EQ(shown(0), L"[x]Default device|[ ]Headset|[ ]USB & Mic|");
  EXPECT_EQ(window.settings[L"RecordingDevice"] + L"|" + window.settings[L"RecordingDeviceName"], L"{usb}|USB & Mic");
  EXPECT_EQ(window.status, L"Microphone: USB & Mic");

  ASSERT_TRUE(StartRecordingTo(PathOf("usb.wav")));
  EXPECT_EQ(source->openedDevice, L"{usb}");  // written before the thread posted that it records
  window.menuPick = 0;
  OnCommand(window, ID_DEVICE);  // while recording: shown, disabled, and a pick changes nothing
  EXPECT_EQ(shown(1), L"[ ]Default device(-)|[ ]Headset(-)|[x]USB & Mic(-)|");
  OnCommand(window, ID_STOP);
  ASSERT_TRUE(PumpUntil([] { return !captureThread.joinable(); }));
  EXPECT_EQ(ChosenDeviceId(), L"{usb}");

  // Unplugged while idle: said at once, and once; the next start still
  // remembers it. Plugged in again: said, and chosen again.
  window.devices = {{L"{headset}", L"Headset"}};
  OnDevicesChanged(window);
  EXPECT_EQ(window.status, gone);
  EXPECT_EQ(ChosenDeviceId(), L"");
  EXPECT_EQ(window.settings[L"RecordingDevice"], L"{usb}");
  const std::size_t told = window.statuses.size();
  OnDevicesChanged(window);
  EXPECT_EQ(window.statuses.size(), told);
  window.devices = {{L"{usb}", L"USB & Mic"}};
  OnDevicesChanged(window);
  EXPECT_EQ(window.status, L"USB & Mic is back.");

  // Back at the next start: chosen again, and named. Gone at Start: no
  // dialog, said so; the Start after records the default, the one after it
  // is back records it again.
  window.devices = {{L"{usb}", L"USB & Mic"}};
  OnStartup(window);
  EXPECT_EQ(window.status, L"Ready: USB & Mic");
  window.devices.clear();
  OnCommand(window, ID_START);
  EXPECT_EQ(window.dialogs, 1);
  EXPECT_EQ(window.status, gone);
  EXPECT_EQ(record("default.wav"), L"");
  window.devices = {{L"{usb}", L"USB & Mic"}};
  EXPECT_EQ(record("back.wav"), L"{usb}");

  // Gone between the check at Start and the thread's opening it, or listed
  // still but refused as gone (as under Wine): said so, without a box; the
  // list does not bring it back, Windows' news does.
  for (const bool listed : {false, true}) {
    window.whileDialogOpen = [&] { window.devices.resize(listed); };  // {usb} or none
    listedButGone = listed;
    window.answers = {PathOf("never.wav")};
    OnCommand(window, ID_START);
    ASSERT_TRUE(PumpUntil([] { return !captureThread.joinable(); }));
    EXPECT_EQ(window.status, gone);
    EXPECT_TRUE(window.boxes.empty());
    window.whileDialogOpen = nullptr;
    listedButGone = false;
    window.devices = {{L"{usb}", L"USB & Mic"}};
    EXPECT_EQ(record("default_again.wav"), L"");
    OnDevicesChanged(window);
    EXPECT_EQ(ChosenDeviceId(), L"{usb}");
  }

  // A name too long for the line loses its end to an ellipsis, no more.
  window.devices = {{L"{usb}", L"Microphone Array (Realtek(R) High Definition Audio)"}};
  OnStartup(window);
  const std::wstring kept = window.status.substr(0, window.status.size() - 1);
  EXPECT_EQ(window.status, kept + L"\u2026");
  EXPECT_FALSE(FitsStatusLine(L"Ready: " + window.devices[0].name.substr(0, kept.size() - 6) + L"\u2026"));
}

// The spectrum's menu: every entry with its access key, the choice shown
// checked; a pick changes the view and is remembered for the next start,
// freezing aside; a close while the menu is up takes nothing; the copy puts
// the spectrum on the clipboard.
TEST_F(Commands, SpectrumMenuChoosesTheViewAndRemembersIt) {
  const auto shown = [&] {
    std::wstring text;
    for (const SpectrumMenuItem& item : window.spectrumMenus.back()) {
      text += std::wstring(item.separatorBefore ? L"--|" : L"") + (item.inSubmenu >= 0 ? L"  " : L"") +
              (item.checked ? L"[x]" : L"[ ]") + item.text + (item.opensSubmenu ? L" >|" : L"|");
    }
    return text;
  };
  OnStartup(window);
  const struct {
    int pick;
    std::wstring saved;
  } picks[] = {{1, L"linear dbfs -120 live"},        {3, L"linear normalised -120 live"},
               {4, L"linear normalised -90 live"},   {7, L"linear normalised -90 hold"},
               {8, L"linear normalised -90 hold"},   {0, L"log normalised -90 hold"},
               {2, L"log dbfs -90 hold"},            {6, L"log dbfs -150 hold"},
               {5, L"log dbfs -120 hold"},           {11, L"log dbfs -120 hold spectrogram 1 10"},
               {15, L"log dbfs -120 hold spectrogram 16 10"}, {18, L"log dbfs -120 hold spectrogram 16 2"},
               {21, L"log dbfs -120 hold spectrogram 16 30"}};
  OnSpectrumMenu(window, 10, 20);
  EXPECT_EQ(shown(), L"[x]&Logarithmic frequency|[ ]L&inear frequency|--|[x]&dBFS|[ ]&Normalised|--|[ ]-&90 dBFS|"
                     L"[x]-1&20 dBFS|[ ]-15&0 dBFS|--|[ ]&Hold peaks|[ ]&Freeze|--|[ ]&Copy spectrum|[ ]Copy &picture|"
                     L"--|[ ]&Spectrogram|[ ]Spectrogram &resolution >|"
                     L"  [x]&Time: 256 points, 187.5 Hz, 5.3 ms|  [ ]&Balanced: 1024 points, 46.9 Hz, 21.3 ms|"
                     L"  [ ]&Frequency: 4096 points, 11.7 Hz, 85.3 ms|  [ ]F&inest frequency: 8192 points, 5.9 Hz, 170.7 ms|"
                     L"[ ]Spectrogram &time >|  [ ]&2 s|  [ ]&5 s|  [x]&10 s|  [ ]&30 s|");
  for (const auto& p : picks) {
    window.spectrumPick = p.pick;
    OnSpectrumMenu(window, 10, 20);
    const std::wstring saved = p.saved.find(L" spectrogram ") == std::wstring::npos ? p.saved + L" spectrum 1 10" : p.saved;
    EXPECT_EQ(window.settings[L"SpectrumView"], saved) << p.pick;
  }
  EXPECT_TRUE(spectrumChoices.freeze);
  OnSpectrumMenu(window, 10, 20);
  EXPECT_TRUE(shown().find(L"[x]&Freeze") != std::wstring::npos && shown().find(L"[x]&Hold peaks") != std::wstring::npos)
      << testing::PrintToString(shown());
  spectrumChoices = {};
  OnStartup(window);
  EXPECT_EQ(spectrumChoices, (SpectrumChoices{true, true, -120, true, false, true, 16, 30})) << "not remembered";
  window.settings[L"SpectrumView"] = L"linear dbfs -90 live";
  OnStartup(window);
  EXPECT_EQ(spectrumChoices, (SpectrumChoices{false, true, -90, false, false, false, 1, 10})) << "a setting from before";
  for (const wchar_t* spoilt : {L"log dbfs -100 hold", L"log dbfs -120 live spectrogram 2 10",
                                L"log dbfs -120 live spectrogram 1 7", L"log dbfs -120 live spectra 1 10",
                                L"log dbfs -120 live spectrogram 1 10 x", L"log dbfs -120 live spectrogram"}) {
    window.settings[L"SpectrumView"] = spoilt;
    OnStartup(window);
    EXPECT_EQ(spectrumChoices, SpectrumChoices{}) << "a spoilt setting is the defaults: " << testing::PrintToString(spoilt);
  }
  window.spectrumPick = 10;
  OnSpectrumMenu(window, -1, -1);
  ASSERT_EQ(window.clipboard.size(), 1u);
  EXPECT_EQ(window.clipboard[0], L"(picture)");
  window.clipboard.clear();

  window.spectrumPick = 9;
  OnSpectrumMenu(window, -1, -1);
  ASSERT_EQ(window.clipboard.size(), 1u);
  EXPECT_TRUE(window.clipboard[0].starts_with(L"Frequency (Hz)\tLevel (dBFS)\r\n"));
  window.spectrumPick = 1;
  window.whileMenuShown = [&] { OnClose(window); };
  OnSpectrumMenu(window, -1, -1);
  EXPECT_TRUE(spectrumChoices.logarithmic) << "a pick in a window that has gone";
}

}  // namespace
