#include "analysis/analysis_worker.h"

#include <new>
#include <optional>
#include <vector>
#include <exception>
#include <utility>

#include "analysis/spectrogram_analyser.h"
#include "analysis/spectrum_analyser.h"
#include "state/recorder_state.h"

void (*beforeWorkerSleeps)() = nullptr;

namespace {

// Analysis worker only: the spectrogram's columns of samples, handed to the
// window; the oldest go when it does not take them.
void PublishColumns(std::vector<SpectrogramColumn>& columns) {
  if (columns.empty()) return;
  {
    std::lock_guard lock(spectrogramMutex);
    for (SpectrogramColumn& column : columns) spectrogramColumns.push_back(std::move(column));
    while (spectrogramColumns.size() > SPECTROGRAM_COLUMNS) spectrogramColumns.pop_front();
  }
  PostNotification(mainWindow, WM_UPDATE_VISUALS);
}

}  // namespace

void AnalysisThreadMain() {
  std::optional<SpectrogramAnalyser> shortAnalysis;
  std::uint64_t fed = 0;  // the spectrogram's samples so far
  std::vector<std::int16_t> samples;
  while (analysisRunning.load()) {
    std::optional<AnalysisFrame> frame;
    {
      std::unique_lock lock(queueMutex);
      queueSignal.wait(lock, [] {
        if (!frameQueue.empty() || !spectrogramSamples.empty() || !analysisRunning.load()) return true;
        if (beforeWorkerSleeps) beforeWorkerSleeps();
        return false;
      });
      if (!analysisRunning.load()) return;
      if (!frameQueue.empty()) {
        frame = std::move(frameQueue.front());
        frameQueue.pop();
      }
      // Exchanged: the recording thread goes on appending to this thread's
      // emptied buffer, whose storage it keeps.
      samples.clear();
      samples.swap(spectrogramSamples);
    }
    try {
      const std::uint32_t multiple = spectrogramFrameMultiple.load();
      const std::uint32_t points = multiple == 0 ? 0 : SpectrogramPoints(sampleRate, multiple);
      if (points == 0) {
        shortAnalysis.reset();
      } else if (!samples.empty()) {
        // A new frame size goes on from the samples the last one had: the
        // columns stay on the take's time.
        if (!shortAnalysis || shortAnalysis->Points() != points) shortAnalysis.emplace(points, sampleRate, fed);
        fed += samples.size();
        std::vector<SpectrogramColumn> columns = shortAnalysis->Feed(samples);
        PublishColumns(columns);
      }
      if (frame) AnalyseFrame(frame->data(), frame->size(), sampleRate);
    } catch (const std::bad_alloc&) {
      // No memory for the working arrays: this frame or these columns go
      // without, and the recording, which needs neither, goes on.
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
