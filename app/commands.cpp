#include "app/commands.h"

#include <exception>

#include "app/status_text.h"
#include "capture/capture_thread.h"

namespace {

// UI thread only: WM_RECORDING_DONE messages still on their way from
// recording threads that Start has already joined. Every recording thread
// posts exactly one; these must not end the recording that follows.
unsigned staleDoneMessages = 0;

// UI thread only: the window has been destroyed. A Start whose Save dialog
// was still open then must not start a recording nobody will join.
bool windowDestroyed = false;

}  // namespace

void OnCommand(WindowOps& window, unsigned id) {
  if (id == ID_START) OnStart(window);
  if (id == ID_STOP) OnStop();
}

void OnStart(WindowOps& window) {
  if (isRecording.load() || captureActive.load()) return;
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

void OnRecordingStarted(WindowOps& window) { window.SetStatusText(L"Recording..."); }

void OnRecordingDone(WindowOps& window) {
  if (staleDoneMessages > 0) {
    --staleDoneMessages;
    return;
  }
  const RecordingOutcome outcome = recordingOutcome.load();
  window.SetStatusText(OutcomeStatusText(outcome, outputPath, startFailure));
  isRecording.store(false);
  // The thread posted this before its teardown; the join waits for that,
  // and never for the window: the thread shows nothing itself.
  if (captureThread.joinable()) captureThread.join();
  captureActive.store(false);
  if (closePending.load()) {
    closePending.store(false);
    window.DestroyMainWindow();
    return;
  }
  // Last: the box runs a message loop of its own until it is dismissed.
  if (outcome == RecordingOutcome::FileNotOpened) {
    window.ShowErrorBox(L"Cannot open file for writing", L"Error");
  }
}

void OnCaptureStalled(WindowOps& window) {
  // Only the running recording's news: a thread that Start has joined
  // already may have posted this before it ended.
  if (staleDoneMessages > 0 || !isRecording.load()) return;
  window.SetStatusText(RecordingStatusText(stalledSeconds.load()));
}

void OnUpdateVisuals(WindowOps& window) { window.InvalidatePanels(); }

void OnClose(WindowOps& window) {
  isRecording.store(false);
  if (captureActive.load()) {
    window.SetStatusText(L"Waiting for recording thread to finish...");
    window.DisableButtons();
    closePending.store(true);
    return;
  }
  window.DestroyMainWindow();
}

void OnDestroy(WindowOps& window) {
  windowDestroyed = true;
  isRecording.store(false);
  if (captureThread.joinable()) captureThread.join();
  window.PostQuit();
}
