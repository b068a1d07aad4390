#include "analysis/analysis_worker.h"

#include <new>
#include <exception>
#include <utility>

#include "analysis/spectrum_analyser.h"
#include "state/recorder_state.h"

void (*beforeWorkerSleeps)() = nullptr;

void AnalysisThreadMain() {
  while (analysisRunning.load()) {
    AnalysisFrame frame;
    {
      std::unique_lock lock(queueMutex);
      queueSignal.wait(lock, [] {
        if (!frameQueue.empty() || !analysisRunning.load()) return true;
        if (beforeWorkerSleeps) beforeWorkerSleeps();
        return false;
      });
      if (!analysisRunning.load()) return;
      frame = std::move(frameQueue.front());
      frameQueue.pop();
    }
    try {
      AnalyseFrame(frame.data(), frame.size(), sampleRate);
    } catch (const std::bad_alloc&) {
      // No memory for the working arrays: this frame goes without a
      // spectrum, and the recording, which needs none, goes on.
    }
  }
}

bool StartAnalysisWorker() {
  analysisRunning.store(true);
  try {
    analysisThread = std::thread(AnalysisThreadMain);
  } catch (const std::exception&) {
    // std::system_error when the system has no thread to give;
    // std::bad_alloc when there is no memory for the thread's state.
    analysisRunning.store(false);
    return false;
  }
  return true;
}

void StopAnalysisWorker() {
  {
    // Cleared under the queue lock: a worker between its test of the
    // condition and its sleep cannot miss the stop.
    std::lock_guard lock(queueMutex);
    analysisRunning.store(false);
  }
  queueSignal.notify_all();
  if (analysisThread.joinable()) analysisThread.join();
}
