#include "app/commands.h"

#include <exception>

#include "app/status_text.h"
#include "capture/capture_thread.h"

namespace {

// UI thread only: WM_RECORDING_DONE messages still on their way from
// recording threads that Start has already joined. Every recording thread
// posts exactly one; these, and whatever those threads posted before them,
// must not speak for the recording that follows.
unsigned staleDoneMessages = 0;

// UI thread only: the window has been destroyed. A Start whose Save dialog
// was still open then must not start a recording nobody will join.
bool windowDestroyed = false;

// UI thread only: the questions about unsavedTake are on the screen. Their
// boxes run message loops of their own, in which the window's handlers can
// run again.
bool askingAboutTake = false;

// UI thread only: a reason for holding up the end of the session is shown.
bool shutdownBlocked = false;

const wchar_t* const SAVING_TEXT = L"Saving the recording...";

// News of the recording that is running, not of one Start has already joined.
bool FromCurrentRecording() { return staleDoneMessages == 0; }

void CloseIfPending(WindowOps& window) {
  if (!closePending.load()) return;
  closePending.store(false);
  window.DestroyMainWindow();
}

// The take is saved or discarded: nothing holds up the session any more.
void ForgetTake(WindowOps& window) {
  unsavedTake.reset();
  if (shutdownBlocked) {
    shutdownBlocked = false;
    window.AllowShutdown();
  }
}

// Starts writing unsavedTake to path on a thread of its own; false, with the
// status line saying so, when no thread could be had.
bool StartSaving(WindowOps& window, std::wstring path) {
  outputPath = std::move(path);
  try {
    saveThread = std::thread(SaveTakeMain, outputPath, mainWindow);
  } catch (const std::exception&) {
    window.SetStatusText(L"Could not start saving the recording: no thread could be started.");
    return false;
  }
  window.SetStatusText(SAVING_TEXT);
  return true;
}

// Asks what becomes of the take whose file could not be written, again and
// again, until the user has chosen a place to save it (the save runs on its
// own thread) or has confirmed that it is to be discarded.
void OfferUnsavedTake(WindowOps& window) {
  if (askingAboutTake || saveThread.joinable() || !unsavedTake) return;
  askingAboutTake = true;
  const std::wstring length = TakeLengthText(unsavedTake->samples.size(), unsavedTake->channels,
                                             unsavedTake->sampleRate);
  for (;;) {
    if (window.AskYesNo(SaveElsewhereQuestion(outputPath, unsavedTake->error, length), false)) {
      std::wstring path = window.AskSavePath();
      if (windowDestroyed) break;
      if (!path.empty() && StartSaving(window, std::move(path))) break;
    } else if (window.AskYesNo(DiscardQuestion(length), true)) {
      ForgetTake(window);
      window.SetStatusText(L"The recording was discarded.");
      break;
    }
  }
  askingAboutTake = false;
  if (!unsavedTake) CloseIfPending(window);
}

}  // namespace

void OnCommand(WindowOps& window, unsigned id) {
  if (id == ID_START) OnStart(window);
  if (id == ID_STOP) OnStop();
}

void OnStart(WindowOps& window) {
  if (isRecording.load() || captureActive.load() || saveThread.joinable() || askingAboutTake) return;
  // A take that has not been saved is not dropped for a new one.
  if (unsavedTake) {
    OfferUnsavedTake(window);
    if (unsavedTake) return;
  }
  {
    std::lock_guard lock(displayMutex);
    leftDisplay.clear();
  }
  {
    std::lock_guard lock(spectrumMutex);
    spectrum.clear();
  }

  std::wstring path = window.AskSavePath();
  if (path.empty() || windowDestroyed) return;

  // A thread whose WM_RECORDING_DONE has not been handled yet (Stop and Start
  // in quick succession) is still held, and a handle that holds a thread must
  // never be overwritten. It ends by itself while isRecording is clear.
  if (captureThread.joinable()) {
    captureThread.join();
    ++staleDoneMessages;
  }

  outputPath = std::move(path);
  isRecording.store(true);
  try {
    captureThread = std::thread(CaptureThreadMain, outputPath, mainWindow);
  } catch (const std::exception&) {
    // std::system_error when the system has no thread to give;
    // std::bad_alloc when there is no memory for the thread or its path.
    isRecording.store(false);
    window.SetStatusText(L"Could not start recording. Nothing was saved.");
  }
}

void OnStop() {
  if (isRecording.load()) isRecording.store(false);
}

void OnRecordingStarted(WindowOps& window) {
  // Only while the recording runs: after Stop or a close it is news of the past.
  if (FromCurrentRecording() && isRecording.load()) window.SetStatusText(L"Recording...");
}

void OnRecordingSaving(WindowOps& window) {
  if (FromCurrentRecording() && !closePending.load()) window.SetStatusText(SAVING_TEXT);
}

void OnRecordingDone(WindowOps& window) {
  if (staleDoneMessages > 0) {
    --staleDoneMessages;
    return;
  }
  const RecordingOutcome outcome = recordingOutcome.load();
  const bool kept = outcome == RecordingOutcome::WriteFailed && unsavedTake;
  window.SetStatusText(kept ? WriteFailedStatusText(unsavedTake->error)
                            : OutcomeStatusText(outcome, outputPath, startFailure, captureFailureCode));
  isRecording.store(false);
  // The thread posted this before its teardown; the join waits for that,
  // and never for the window: the thread shows nothing itself.
  if (captureThread.joinable()) captureThread.join();
  captureActive.store(false);
  if (kept) {
    // A close that was waiting waits on for the user's answer.
    OfferUnsavedTake(window);
    return;
  }
  if (closePending.load()) {
    CloseIfPending(window);
    return;
  }
  // Last: the box runs a message loop of its own until it is dismissed.
  if (outcome == RecordingOutcome::FileNotOpened) {
    window.ShowErrorBox(L"Cannot open file for writing", L"Error");
  }
}

void OnTakeSaved(WindowOps& window) {
  if (saveThread.joinable()) saveThread.join();
  if (!unsavedTake) return;
  if (!unsavedTake->error) {
    ForgetTake(window);
    window.SetStatusText(L"Saved to: " + outputPath);
    CloseIfPending(window);
    return;
  }
  window.SetStatusText(WriteFailedStatusText(unsavedTake->error));
  OfferUnsavedTake(window);
}

void OnCaptureStalled(WindowOps& window) {
  // Only the running recording's news: a thread that Start has joined
  // already may have posted this before it ended.
  if (!FromCurrentRecording() || !isRecording.load()) return;
  window.SetStatusText(RecordingStatusText(stalledSeconds.load()));
}

void OnUpdateVisuals(WindowOps& window) { window.InvalidatePanels(); }

void OnClose(WindowOps& window) {
  isRecording.store(false);
  if (captureActive.load() || saveThread.joinable() || askingAboutTake) {
    // The window goes once the take has been written, or the user has
    // answered for it.
    if (captureActive.load()) window.SetStatusText(L"Waiting for recording thread to finish...");
    window.DisableButtons();
    closePending.store(true);
    return;
  }
  if (unsavedTake) {
    closePending.store(true);
    OfferUnsavedTake(window);
    return;
  }
  window.DestroyMainWindow();
}

void OnDestroy(WindowOps& window) {
  windowDestroyed = true;
  isRecording.store(false);
  if (captureThread.joinable()) captureThread.join();
  if (saveThread.joinable()) saveThread.join();
  window.PostQuit();
}

bool OnQueryEndSession(WindowOps& window) {
  // A recording, or a take being written, is finished when the session
  // ends. A take waiting for the user's answer holds the session up, as an
  // unsaved document does: Windows names the reason and lets the user
  // decide.
  if (!unsavedTake || saveThread.joinable()) return true;
  if (!shutdownBlocked) {
    shutdownBlocked = true;
    window.BlockShutdown(L"The recording has not been saved");
  }
  return false;
}

void OnEndSession(WindowOps& window, bool ending) {
  // A session end that was cancelled changes nothing: the recording goes on.
  if (!ending || (!captureThread.joinable() && !saveThread.joinable())) return;
  // The recording stops, and the take is written while the shutdown screen
  // says why this program holds it up.
  window.BlockShutdown(L"Saving the recording");
  isRecording.store(false);
  if (captureThread.joinable()) captureThread.join();
  if (saveThread.joinable()) saveThread.join();
  window.AllowShutdown();
}
