#include "state/recorder_state.h"

// Constant-initialised: ready before any code runs, never destroyed early.
std::atomic<bool> isRecording{false};
std::atomic<bool> captureActive{false};
std::atomic<bool> closePending{false};
std::atomic<bool> analysisRunning{false};
std::atomic<float> levelValue{0.0f};
std::atomic<float> peakLevel{0.0f};
std::atomic<std::uint32_t> clippedPackets{0};
std::atomic<float> peakFrequencyHz{0.0f};
std::int32_t sampleRate = 44100;
std::atomic<RecordingOutcome> recordingOutcome{RecordingOutcome::None};
StartFailure startFailure{};
std::uint32_t captureFailureCode = 0;
std::atomic<std::uint32_t> stalledSeconds{0};
std::atomic<std::uint32_t> recordedSeconds{0};
std::atomic<std::uint32_t> recordedGaps{0};
std::atomic<std::uint32_t> diskSecondsLeft{UINT32_MAX};
std::atomic<bool> diskLimitIsFileSize{false};
FileError liveWriteError{};
WindowHandle mainWindow = nullptr;
std::mutex displayMutex;
std::mutex spectrumMutex;
std::mutex queueMutex;
std::condition_variable queueSignal;
std::chrono::steady_clock::time_point lastAnalysisTime{};

// Constructed in this order before the program's entry and destroyed in the
// reverse order at exit; the thread handles are empty by then.
std::thread captureThread;
std::thread saveThread;
std::optional<UnsavedTake> unsavedTake;
std::wstring outputPath = L"output.wav";
std::deque<std::int16_t> leftDisplay;
std::vector<float> spectrum;
SpectrumLevels spectrumLevels;
std::vector<float> windowTable;
std::queue<AnalysisFrame, std::deque<AnalysisFrame>> frameQueue;
std::atomic<std::uint32_t> spectrogramFrameMultiple{0};
std::vector<std::int16_t> spectrogramSamples;
std::mutex spectrogramMutex;
std::deque<SpectrogramColumn> spectrogramColumns;
std::thread analysisThread;

namespace {
// A WM_UPDATE_VISUALS is waiting in the window's queue. Writers: the
// posting threads (set by the claim), UI thread (cleared as it handles
// one). Two posters may both see it clear and both post: one more redraw,
// no harm, which a single load and store allow.
std::atomic<bool> visualsPostPending{false};
}  // namespace

bool ClaimVisualsPost() {
  if (visualsPostPending.load()) return false;
  visualsPostPending.store(true);
  return true;
}

void ReleaseVisualsPost() { visualsPostPending.store(false); }
