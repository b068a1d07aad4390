#include "app/commands.h"

#include <cerrno>
#include <ctime>
#include <cwchar>
#include <exception>
#include <filesystem>
#include <iterator>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/status_text.h"
#include "capture/capture_thread.h"

namespace {

// What the user-interface thread is doing about recordings; UI thread only.
// A close that has to wait for the phase to end sets closePending and is
// carried out when it does.
//
// phase        | Start              | Stop     | close                        | the session ends
// -------------+--------------------+----------+------------------------------+------------------------------------
// Idle         | Save dialog        | nothing  | window destroyed             | nothing
// ChoosingFile | refused            | nothing  | window destroyed; no start   | nothing
// Recording    | refused            | ends it  | ends it; closes after        | ends it, and waits until it is saved
// TakeWaiting  | asks about it      | nothing  | asks about it; closes after  | the take goes to the rescue folder
// Asking       | refused            | nothing  | closes after the answer      | the take goes to the rescue folder
// SavingTake   | refused            | nothing  | closes after the save        | waits for the save; if it failed,
//              |                    |          |                              | the take goes to the rescue folder;
//              |                    |          |                              | of a save of the rest alone, the
//              |                    |          |                              | next start says where each part is
//
// Recording lasts from Start until the recording thread's WM_RECORDING_DONE
// has been handled and the thread joined; a take its disk refused then
// waits in unsavedTake (TakeWaiting), while the questions about it are on
// the screen (Asking) and while a thread saves it elsewhere (SavingTake).
enum class Phase { Idle, ChoosingFile, Recording, TakeWaiting, Asking, SavingTake };
Phase phase = Phase::Idle;

// UI thread only: WM_RECORDING_DONE and WM_TAKE_SAVED messages of threads
// the end of the session has already joined.
unsigned staleDoneMessages = 0;
unsigned staleSavedMessages = 0;

// UI thread only: the window has been destroyed. A Start whose Save dialog
// was still open then must not start a recording nobody will join.
bool windowDestroyed = false;

// UI thread only: what the status line says besides "Recording...".
RecordingNotices notices;

// UI thread only: the closes and the session's ends so far, counted so that
// a handler can tell whether one came while its box, dialog or menu was up.
unsigned closesSeen = 0;
unsigned sessionEndsSeen = 0;

// What a box, a dialog or a menu answered, and what its message loop let
// happen meanwhile: any handler may have run in it.
template <typename T>
struct AfterNested {
  T answer;
  bool samePhase;     // the phase is the one the call began in
  bool closed;        // a close came meanwhile, or the window has gone
  bool sessionEnded;  // the session ended meanwhile
  // Nothing happened that the caller must take into account.
  bool Holds() const { return samePhase && !closed && !sessionEnded; }
};

// Every call that shows a box, a dialog or a menu goes through here, so
// that none forgets that the state it began in may have gone.
template <typename Call>
[[nodiscard]] auto Nested(Call&& call) {
  const Phase before = phase;
  const unsigned closes = closesSeen, ends = sessionEndsSeen;
  const auto after = [&](auto answer) {
    return AfterNested<decltype(answer)>{std::move(answer), phase == before, closesSeen != closes || windowDestroyed,
                                         sessionEndsSeen != ends};
  };
  if constexpr (std::is_void_v<decltype(call())>) {
    call();
    return after(true);
  } else {
    return after(call());
  }
}

const wchar_t* const SAVING_TEXT = L"Saving the recording...";
// What became of each take that only memory held when a session ended,
// by the rescue file's path (or LOST_MARK and the partial file's, when no
// place took it); told and removed at the next start.
const wchar_t* const RESCUED_KEY = L"Rescued";
const wchar_t* const LOST_MARK = L"?";

#ifdef _WIN32
constexpr wchar_t SEPARATOR = L'\\';
#else
constexpr wchar_t SEPARATOR = L'/';
#endif

void CloseIfPending(WindowOps& window) {
  if (!closePending.load()) return;
  closePending.store(false);
  window.DestroyMainWindow();
}

// The take is saved or discarded; a discarded take's partial file goes with it.
void ForgetTake(bool discarded) {
  if (discarded && !unsavedTake->partialFile.empty()) RemoveFile(unsavedTake->partialFile);
  unsavedTake.reset();
  phase = Phase::Idle;
}

// Starts writing unsavedTake to path on a thread of its own; false, with the
// status line saying so, when no thread could be had. outputPath names the
// place last tried, so it changes only once the thread runs.
bool StartSaving(WindowOps& window, std::wstring path) {
  try {
    saveThread = std::thread(SaveTakeMain, path, mainWindow);
  } catch (const std::exception&) {
    window.SetStatusText(L"Could not start saving: no thread was free.");
    return false;
  }
  outputPath = std::move(path);
  phase = Phase::SavingTake;
  window.SetStatusText(SAVING_TEXT);
  return true;
}

// Asks what becomes of the take whose file could not be written, again and
// again, until the user has chosen a place to save it (the save runs on its
// own thread) or has confirmed that it is to be discarded. The boxes run
// message loops of their own, in which the end of the session may take the
// take away meanwhile.
void OfferUnsavedTake(WindowOps& window) {
  if (phase != Phase::TakeWaiting) return;
  phase = Phase::Asking;
  const std::wstring length = TakeLengthText(unsavedTake->samples.size(), unsavedTake->channels,
                                             unsavedTake->sampleRate);
  // A close while a question is up is carried out after the answer; the
  // session's end may have taken the take away.
  for (;;) {
    const auto save = Nested([&] {
      return window.AskYesNo(
          SaveElsewhereQuestion(outputPath, unsavedTake->error, length, unsavedTake->stoppedOutOfMemory), false);
    });
    if (!save.samePhase) return;
    if (save.answer == Answer::Yes) {
      auto path = Nested([&] { return window.AskSavePath(); });
      if (!path.samePhase) return;
      if (!path.answer.empty() && StartSaving(window, std::move(path.answer))) return;
      continue;
    }
    if (save.answer == Answer::No) {
      const auto discard = Nested([&] { return window.AskYesNo(DiscardQuestion(length), true); });
      if (!discard.samePhase) return;
      if (discard.answer == Answer::Yes) {
        ForgetTake(true);
        window.SetStatusText(L"The recording was discarded.");
        CloseIfPending(window);
        return;
      }
      if (discard.answer == Answer::No) continue;
    }
    // No box could be shown, so nothing was decided: the take waits, and a
    // close that needs an answer first is given up rather than asked for
    // again and again.
    break;
  }
  phase = Phase::TakeWaiting;
  if (closePending.load()) {
    closePending.store(false);
    window.EnableButtons();
  }
}

// Writes what memory holds of the take into a new file in folder, named by
// the date and time; a name that another file (another rescue) has is
// skipped. path is the file written. The note for the next start goes in
// as soon as the file exists: Windows may end the process before the save
// is done, and the file then holds all it had committed.
FileError RescueInto(WindowOps& window, const std::wstring& folder, std::wstring& path) {
  std::error_code ignored;
  std::filesystem::create_directories(FilePath(folder), ignored);
  const std::time_t now = std::time(nullptr);
  wchar_t stamp[32] = L"";
  if (const std::tm* local = std::localtime(&now)) {
    std::wcsftime(stamp, std::size(stamp), L"%Y-%m-%d %H-%M-%S", local);
  }
  FileError error;
  bool noted = false;
  const auto note = [&](const std::wstring& created) {
    window.WriteSettingIn(RESCUED_KEY, created, RescuingNotice(*unsavedTake, created));
    noted = true;
  };
  for (int n = 1; n <= 100; ++n) {
    const std::wstring number = n == 1 ? L"" : L" (" + std::to_wstring(n) + L")";
    path = folder + SEPARATOR + L"Recording " + stamp + number + L".wav";
    error = SaveTake(path, *unsavedTake, SaveWay::Rescuing, SystemFileCalls(), note);
    // A name another rescue took is that rescue's, and so is its note.
    if (error.errnoValue != EEXIST) break;
  }
  // The failed file is gone: so is its note.
  if (error && noted) window.WriteSettingIn(RESCUED_KEY, path, L"");
  return error;
}

// The session ends with part of the take only in memory: that part goes
// where the user will find it, to the first place that takes it, and the
// next start says where each part is, or what was lost.
void KeepInRescueFolder(WindowOps& window) {
  try {
    UnsavedTake& take = *unsavedTake;
    std::vector<std::wstring> folders;
    for (const auto known : {WindowOps::Folder::Documents, WindowOps::Folder::LocalAppData}) {
      const std::wstring folder = window.KnownFolder(known);
      if (!folder.empty()) folders.push_back(folder + SEPARATOR + L"Vellora");
    }
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (!error) folders.push_back(temporary.wstring());
    const std::size_t slash = take.partialFile.find_last_of(L"\\/");
    if (slash != std::wstring::npos) folders.push_back(take.partialFile.substr(0, slash));

    std::wstring path;
    for (const std::wstring& folder : folders) {
      if (RescueInto(window, folder, path)) continue;
      // Only an empty partial file goes: one that holds the beginning stays.
      if (!take.savedRestOnly && !take.partialFile.empty()) RemoveFile(take.partialFile);
      window.WriteSettingIn(RESCUED_KEY, path, RescuedNotice(take, path));
      ForgetTake(false);
      window.SetStatusText(SavedToText(path));
      return;
    }
    // Nowhere: the next start says what was lost and what the partial file holds.
    window.WriteSettingIn(RESCUED_KEY, LOST_MARK + take.partialFile + L" " + std::to_wstring(std::time(nullptr)),
                          RescuedNotice(take, L""));
  } catch (const std::exception&) {
    // No memory: nothing more can be done for the take.
  }
}

bool FromCurrentRecording() { return phase == Phase::Recording && isRecording.load(); }

}  // namespace

void OnCommand(WindowOps& window, unsigned id) {
  if (id == ID_START) OnStart(window);
  if (id == ID_STOP) OnStop();
  if (id == ID_DEVICE) OnDeviceButton(window);
}

void OnStartup(WindowOps& window) {
  LoadDeviceChoice(window);
  LoadSpectrumChoices(window);
  const auto rescued = window.ReadSettingsIn(RESCUED_KEY);
  if (rescued.empty()) return;
  std::wstring notice;
  for (const auto& [name, text] : rescued) {
    window.SetStatusText(name.starts_with(LOST_MARK) ? RECORDING_LOST_TEXT : SavedToText(name));
    notice += (notice.empty() ? L"" : L"\n\n") + text;
  }
  // The notes are the only record of where each part is: they go once the
  // box has been dismissed, not while a session's end may cut it short.
  if (Nested([&] { window.ShowNotice(notice); }).sessionEnded) return;
  for (const auto& [name, text] : rescued) window.WriteSettingIn(RESCUED_KEY, name, L"");
}

void OnStart(WindowOps& window) {
  // A take that has not been saved is not dropped for a new one.
  if (phase == Phase::TakeWaiting) {
    OfferUnsavedTake(window);
    if (windowDestroyed || closePending.load()) return;
  }
  if (phase != Phase::Idle || isRecording.load() || captureActive.load()) return;
  // A chosen device that has gone is not swapped for another unasked: the
  // status line says so, and the next Start records the default.
  if (!KeepDeviceChoiceCurrent(window)) return;
  {
    std::lock_guard lock(displayMutex);
    leftDisplay.clear();
  }
  {
    std::lock_guard lock(spectrumMutex);
    spectrum.clear();
    spectrumLevels = {};
  }
  {
    std::lock_guard lock(queueMutex);
    spectrogramSamples.clear();
  }
  {
    std::lock_guard lock(spectrogramMutex);
    spectrogramColumns.clear();
  }
  spectrogramView.Clear();

  phase = Phase::ChoosingFile;
  auto path = Nested([&] { return window.AskSavePath(); });
  // The window has gone: no recording that nobody would join.
  if (path.closed) return;
  phase = Phase::Idle;
  // Nor one that the session's end would cut off as it begins.
  if (path.sessionEnded || path.answer.empty()) return;

  outputPath = std::move(path.answer);
  notices = {};
  isRecording.store(true);
  try {
    captureThread = std::thread(CaptureThreadMain, outputPath, mainWindow, ChosenDeviceId());
  } catch (const std::exception&) {
    // std::system_error when the system has no thread to give;
    // std::bad_alloc when there is no memory for the thread or its path.
    isRecording.store(false);
    window.SetStatusText(L"Could not start recording. Nothing was saved.");
    return;
  }
  phase = Phase::Recording;
}

void OnStop() {
  if (isRecording.load()) isRecording.store(false);
}

void OnRecordingStarted(WindowOps& window) {
  // Only while the recording runs: after Stop or a close it is news of the past.
  if (!FromCurrentRecording()) return;
  window.SetStatusText(RecordingStatusText(notices));
  // Space stops what Space started.
  window.FocusButton(ID_STOP);
}

void OnRecordingSaving(WindowOps& window) {
  if (phase == Phase::Recording && !closePending.load()) window.SetStatusText(SAVING_TEXT);
}

void OnRecordingDone(WindowOps& window) {
  if (staleDoneMessages > 0) {
    --staleDoneMessages;
    return;
  }
  if (phase != Phase::Recording) return;
  isRecording.store(false);
  // The thread posted this before its teardown; the join waits for that,
  // and never for the window: the thread shows nothing itself.
  if (captureThread.joinable()) captureThread.join();
  captureActive.store(false);
  const RecordingOutcome outcome = recordingOutcome.load();
  if (outcome == RecordingOutcome::WriteFailed && unsavedTake) {
    phase = Phase::TakeWaiting;
    const std::wstring text = WriteFailedStatusText(unsavedTake->error, unsavedTake->stoppedOutOfMemory);
    window.SetStatusText(window.FitsStatusLine(text) ? text : WriteFailedStatusText(unsavedTake->error));
    // A close that was waiting waits on for the user's answer.
    OfferUnsavedTake(window);
    return;
  }
  phase = Phase::Idle;
  window.SetStatusText(
      OutcomeStatusText(outcome, outputPath, captureFailureCode, recordedGaps.load(), clippedPackets.load()));
  window.FocusButton(ID_START);
  if (closePending.load()) {
    CloseIfPending(window);
    return;
  }
  // The chosen device went between the check at Start and the thread's
  // opening it, or Windows still lists a device that has gone: the default
  // records from the next Start, and the status line says so.
  if (outcome == RecordingOutcome::CouldNotStart && startFailure.chosenDevice && DeviceWasGone(startFailure)) {
    ChosenDeviceGone(window);
    return;
  }
  // Last: whatever the box's message loop brings is handled there.
  const std::wstring box = OutcomeBoxText(outcome, startFailure);
  if (!box.empty()) (void)Nested([&] { window.ShowErrorBox(box, L"Error"); });
}

void OnTakeSaved(WindowOps& window) {
  if (staleSavedMessages > 0) {
    --staleSavedMessages;
    return;
  }
  if (phase != Phase::SavingTake) return;
  if (saveThread.joinable()) saveThread.join();
  if (!unsavedTake->error) {
    const std::wstring saved = unsavedTake->savedTo;
    const std::wstring notice = unsavedTake->savedRestOnly ? SavedInTwoPartsNotice(*unsavedTake, saved) : L"";
    // The partial file keeps the beginning: the user must hear where it
    // is, at the next start if not now.
    if (!notice.empty()) window.WriteSettingIn(RESCUED_KEY, saved, notice);
    ForgetTake(false);
    window.SetStatusText(SavedToText(saved));
    if (!notice.empty() && !Nested([&] { window.ShowNotice(notice); }).sessionEnded) {
      window.WriteSettingIn(RESCUED_KEY, saved, L"");
    }
    if (phase == Phase::Idle) CloseIfPending(window);
    return;
  }
  phase = Phase::TakeWaiting;
  window.SetStatusText(WriteFailedStatusText(unsavedTake->error));
  OfferUnsavedTake(window);
}

void OnCaptureStalled(WindowOps& window) {
  if (!FromCurrentRecording()) return;
  notices.stalledSeconds = stalledSeconds.load();
  window.SetStatusText(RecordingStatusText(notices));
}

void OnWriteFailed(WindowOps& window) {
  if (!FromCurrentRecording()) return;
  notices.notSaved = true;
  notices.writeError = liveWriteError;
  window.SetStatusText(RecordingStatusText(notices));
}

void OnUpdateVisuals(WindowOps& window) {
  // First: a post from now on brings news this redraw may not show.
  ReleaseVisualsPost();
  window.InvalidatePanels();
  // The time, the clipping and the gaps ride on the packets' own news: a
  // new text once a second at most, but at once for the first clip.
  if (!FromCurrentRecording()) return;
  const std::uint32_t seconds = recordedSeconds.load(), gaps = recordedGaps.load(), clips = clippedPackets.load();
  // The free space matters only once it is told; above that it changes
  // with every commit.
  const std::uint32_t left = diskSecondsLeft.load();
  const std::uint32_t diskSeconds = left < DISK_NOTICE_SECONDS ? left : UINT32_MAX;
  const bool sizeLimit = diskLimitIsFileSize.load();
  const bool firstClip = clips != 0 && notices.clips == 0;
  if (seconds == notices.seconds && gaps == notices.gaps && !firstClip && diskSeconds == notices.diskSecondsLeft &&
      sizeLimit == notices.fileSizeLimit) {
    return;
  }
  notices.seconds = seconds;
  notices.gaps = gaps;
  notices.clips = clips;
  notices.diskSecondsLeft = diskSeconds;
  notices.fileSizeLimit = sizeLimit;
  window.SetStatusText(RecordingStatusText(notices));
}

void OnDeviceButton(WindowOps& window) {
  // The choice is fixed from Start until the take is saved or dropped.
  const bool mayChange = phase == Phase::Idle && !closePending.load();
  const std::vector<RecordingDevice> devices = window.ActiveRecordingDevices();
  if (mayChange) KeepDeviceChoiceCurrent(window, devices);
  const auto picked = Nested([&] { return window.ShowDeviceMenu(DeviceMenu(devices, mayChange)); });
  // The menu's own message loop may have started a recording meanwhile.
  if (mayChange && picked.Holds()) ChooseDevice(window, devices, picked.answer);
}

void OnSpectrumMenu(WindowOps& window, int x, int y) {
  double rate = 0.0;
  {
    std::lock_guard lock(spectrumMutex);
    rate = spectrumLevels.rate;
  }
  const auto picked =
      Nested([&] { return window.ShowSpectrumMenu(SpectrumMenu(spectrumChoices, rate > 0.0 ? rate : 48000.0), x, y); });
  // The view's choices do not depend on the phase: only a window that has
  // gone takes none.
  if (picked.closed) return;
  switch (ApplySpectrumPick(spectrumChoices, picked.answer)) {
    case SpectrumPick::Changed:
      SaveSpectrumChoices(window);
      window.InvalidatePanels();
      break;
    case SpectrumPick::Copy: window.CopyText(spectrumView.SpectrumText()); break;
    case SpectrumPick::CopyPicture: window.CopySpectrumPicture(); break;
    case SpectrumPick::Nothing: break;
  }
}

void OnDevicesChanged(WindowOps& window) {
  // While busy, a chosen device that goes ends the recording itself; the
  // choice is looked at again when the menu opens or at the next Start.
  if (phase == Phase::Idle && !closePending.load()) KeepDeviceChoiceCurrent(window, true);
}

void OnClose(WindowOps& window) {
  ++closesSeen;
  isRecording.store(false);
  switch (phase) {
    case Phase::Idle:
    case Phase::ChoosingFile:
      window.DestroyMainWindow();
      return;
    case Phase::Recording:
      // The window goes once the take has been written, or the user has
      // answered for it.
      window.SetStatusText(L"Waiting for recording thread to finish...");
      window.DisableButtons();
      closePending.store(true);
      return;
    case Phase::SavingTake:
      window.DisableButtons();
      closePending.store(true);
      return;
    case Phase::Asking:
      closePending.store(true);
      return;
    case Phase::TakeWaiting:
      closePending.store(true);
      OfferUnsavedTake(window);
      return;
  }
}

void OnDestroy(WindowOps& window) {
  windowDestroyed = true;
  isRecording.store(false);
  if (captureThread.joinable()) captureThread.join();
  if (saveThread.joinable()) saveThread.join();
  window.PostQuit();
}

void OnEndSession(WindowOps& window, bool ending) {
  // A session end that was cancelled changes nothing: the recording goes on.
  if (!ending) return;
  ++sessionEndsSeen;
  if (phase == Phase::Idle || phase == Phase::ChoosingFile) return;
  // Windows may end the process as soon as this returns: the recording
  // stops and is written, and a take only memory holds goes to the rescue
  // folder, while the shutdown screen says why this program holds it up.
  window.BlockShutdown(L"Saving the recording");
  if (phase == Phase::Recording) {
    isRecording.store(false);
    if (captureThread.joinable()) captureThread.join();
    captureActive.store(false);
    ++staleDoneMessages;
    const bool kept = recordingOutcome.load() == RecordingOutcome::WriteFailed && unsavedTake;
    phase = kept ? Phase::TakeWaiting : Phase::Idle;
  }
  if (phase == Phase::SavingTake) {
    if (saveThread.joinable()) saveThread.join();
    ++staleSavedMessages;
    phase = Phase::TakeWaiting;
    if (!unsavedTake->error) {
      // The box that says where the beginning is comes at the next start.
      if (unsavedTake->savedRestOnly) {
        window.WriteSettingIn(RESCUED_KEY, unsavedTake->savedTo,
                              SavedInTwoPartsNotice(*unsavedTake, unsavedTake->savedTo));
      }
      ForgetTake(false);
    }
  }
  if (phase == Phase::TakeWaiting || phase == Phase::Asking) KeepInRescueFolder(window);
  window.AllowShutdown();
}
