#include "app/commands.h"

#include <system_error>

#include "capture/capture_thread.h"

namespace {

// UI thread only: WM_RECORDING_DONE messages still on their way from
// recording threads that Start has already joined. Every recording thread
// posts exactly one; these must not end the recording that follows.
unsigned staleDoneMessages = 0;

}  // namespace

std::wstring OutcomeStatusText(RecordingOutcome outcome, const std::wstring& path) {
  switch (outcome) {
    case RecordingOutcome::Saved:
      return L"Saved to: " + path;
    case RecordingOutcome::SavedAtLimit:
      return L"Saved to: " + path + L" (stopped at the 4 GB limit of a WAV file)";
    case RecordingOutcome::CouldNotStart:
      return L"Could not start recording: no recording device is available. Nothing was saved.";
    case RecordingOutcome::FileNotOpened:
      return L"Could not open the file for writing. Nothing was saved.";
    case RecordingOutcome::WriteFailed:
      return L"Writing the file failed. The recording was not saved.";
    case RecordingOutcome::None:
      break;
  }
  return L"Recording ended.";
}

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
  if (path.empty()) return;

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
  } catch (const std::system_error&) {
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
  window.SetStatusText(OutcomeStatusText(recordingOutcome.load(), outputPath));
  isRecording.store(false);
  // The thread posted this before its teardown; the join waits for that.
  if (captureThread.joinable()) captureThread.join();
  captureActive.store(false);
  if (closePending.load()) {
    closePending.store(false);
    window.DestroyMainWindow();
  }
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
  isRecording.store(false);
  if (captureThread.joinable()) captureThread.join();
  window.PostQuit();
}
