#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <thread>
#include <vector>

#include "capture/output_file.h"
#include "capture/unsaved_take.h"
#include "state/notifier.h"

// The process-wide objects through which the user-interface thread, the
// recording thread and the analysis worker cooperate. Every atomic access is
// a single sequentially consistent load or store.

// Exactly 65536 samples of the first channel, oldest first.
using AnalysisFrame = std::vector<std::int16_t>;

// What became of the latest recording; read by the window on WM_RECORDING_DONE.
enum class RecordingOutcome : std::uint8_t {
  None,                // no recording has finished yet
  Saved,               // the whole take is in the file
  SavedDeviceLost,     // saved, but the device went away and ended it
  SavedServiceStopped, // saved, but the Windows audio service stopped and ended it
  SavedCaptureFailed,  // saved, but the device failed (captureFailureCode) and ended it
  SavedOutOfMemory,    // saved, but memory for the take ran out and ended it
  SavedDiskTooSlow,    // saved, but the disk fell too far behind capture and ended it
  CouldNotStart,       // a setup step failed (startFailure says which); no file
  FormatNotSupported,  // the device's sample format cannot be read; no file
  FileNotOpened,       // the output file could not be opened; no file
  WriteFailed,         // the take could not be written; it waits in unsavedTake
};

// The setup step that failed, in the order the recording thread runs them.
enum class StartStep : std::uint8_t {
  None,
  CreateDeviceEnumerator,
  GetDefaultAudioEndpoint,
  GetDevice,  // the device the user chose, by its endpoint id
  ActivateAudioClient,
  GetMixFormat,
  Initialize,
  GetCaptureService,
  Start,
  StartAnalysisWorker,
  StartFileWriter,
};

struct StartFailure {
  StartStep step = StartStep::None;
  std::uint32_t code = 0;  // the platform's result (an HRESULT); 0 when there is none
  bool chosenDevice = false;  // the device was the one the user chose, not Windows' default
};

// Writer: UI thread (Start sets; Stop, WM_CLOSE, WM_DESTROY, WM_RECORDING_DONE clear).
// Readers: recording thread (loop condition), UI thread (Start guard, Stop).
extern std::atomic<bool> isRecording;
// Writers: recording thread (first and last step), UI thread (after the join).
// Readers: UI thread (Start guard, WM_CLOSE).
extern std::atomic<bool> captureActive;
// Writer and reader: UI thread only.
extern std::atomic<bool> closePending;
// Writer: recording thread (set before it starts the worker; cleared under
// queueMutex when it stops it). Reader: analysis worker.
extern std::atomic<bool> analysisRunning;
// Writer: recording thread, per non-empty packet. Reader: level panel.
extern std::atomic<float> levelValue;
// The largest sample magnitude of about the last 1.5 s of the take, on the
// same 0..1 scale (32768 is 1). Writer: recording thread, per non-empty
// packet; 0 before it posts WM_RECORDING_STARTED. Reader: level panel.
extern std::atomic<float> peakLevel;
// Packets of the take with a sample at full scale. Writer: recording thread,
// per packet; 0 before it posts WM_RECORDING_STARTED. Readers: level panel
// (its clip light), UI thread (on WM_UPDATE_VISUALS while recording and
// once it has joined the thread).
extern std::atomic<std::uint32_t> clippedPackets;
// Writer: analysis worker, per analysed frame. Reader: spectrum label.
extern std::atomic<float> peakFrequencyHz;
// Writer: recording thread before it creates the worker; reader: that worker.
// Thread creation orders the write before every read, so no lock.
extern std::int32_t sampleRate;
// Writer: recording thread, before it posts WM_RECORDING_DONE.
// Reader: UI thread, on WM_RECORDING_DONE.
extern std::atomic<RecordingOutcome> recordingOutcome;
// Writer: recording thread, when a setup step fails, before it stores
// recordingOutcome. Reader: UI thread, on WM_RECORDING_DONE. The seq_cst
// store of recordingOutcome that follows orders it for the reader.
extern StartFailure startFailure;
// The platform's result that ended capture, for SavedCaptureFailed. Writer
// and reader as for startFailure.
extern std::uint32_t captureFailureCode;
// Whole seconds since the device last delivered a packet, once they reach
// the notice threshold; 0 while packets flow. Writer: recording thread,
// before it posts WM_CAPTURE_STALLED. Reader: UI thread, on that message.
extern std::atomic<std::uint32_t> stalledSeconds;
// Whole seconds the take holds, and how many packets came after a gap (the
// device or the audio engine lost samples before them). Writer: recording
// thread, per packet; both 0 before it posts WM_RECORDING_STARTED. Reader:
// UI thread, on WM_UPDATE_VISUALS while recording and once it has joined
// the thread.
extern std::atomic<std::uint32_t> recordedSeconds;
extern std::atomic<std::uint32_t> recordedGaps;
// Seconds of the take that the file's volume still takes: its free space,
// or less on a volume that holds no larger file; UINT32_MAX when the
// system does not say. Writer: the file writer, at each commit. Reader:
// UI thread, on WM_UPDATE_VISUALS while recording.
extern std::atomic<std::uint32_t> diskSecondsLeft;
// Whether those seconds run out at the largest file the volume holds
// (FAT32) rather than at its free space. Written just before them, read
// just after them; a reader between two commits may pair one commit's
// seconds with the other's reason, for one status line.
extern std::atomic<bool> diskLimitIsFileSize;
// Why the file stopped taking the recording. Writer: the file writer, before
// it posts WM_WRITE_FAILED. Reader: UI thread, on that message.
extern FileError liveWriteError;
// Writer: UI thread, before any worker exists. Readers: analysis worker
// (target of its posts), UI thread (handed to each recording thread).
extern WindowHandle mainWindow;

extern std::mutex displayMutex;   // guards leftDisplay
extern std::mutex spectrumMutex;  // guards spectrum
extern std::mutex queueMutex;     // guards frameQueue and every wait on queueSignal
// Waited on by the analysis worker only; notified by the recording thread.
extern std::condition_variable queueSignal;

// UI thread only: the running or finished recording thread. Always joined
// before it is given another thread or destroyed.
extern std::thread captureThread;
// UI thread only: the thread writing unsavedTake to a new place, if any.
// Always joined before it is given another thread or destroyed.
extern std::thread saveThread;
// Set by the recording thread before it posts WM_RECORDING_DONE with
// RecordingOutcome::WriteFailed; the UI thread's once it has joined that
// thread, except that a running saveThread writes the take's error and
// partialFile, and the UI thread looks at neither until it has joined that
// one too. Emptied once the take is saved or discarded.
extern std::optional<UnsavedTake> unsavedTake;
// UI thread only: the path chosen in the Save dialog.
extern std::wstring outputPath;
// Guarded by displayMutex. Writer: recording thread (append, trim to 65536)
// and UI thread (emptied at Start). Readers: recording thread (frames),
// waveform panel (copies it). A deque, so that trimming the oldest samples
// of every packet does not move the 65536 that stay.
extern std::deque<std::int16_t> leftDisplay;
// Guarded by spectrumMutex. Writer: analysis worker (replaced whole) and UI
// thread (emptied at Start). Reader: spectrum panel (copies it).
extern std::vector<float> spectrum;
// How the spectrum's normalised values read in dBFS, and its strongest
// tone placed between bins. Guarded by spectrumMutex; written with
// spectrum (analysis worker; emptied with it at Start), read by the
// spectrum panel.
struct SpectrumLevels {
  // A value times this is the amplitude, relative to full scale, of a sine
  // centred on its bin: 20 log10 of it is dBFS. 0 before any analysis.
  float toFullScale = 0.0f;
  double peakHz = 0.0;      // the peak from the three top bins, to a hundredth of a bin
  double peakDbfs = -1e300;  // its level; -1e300 before any analysis, or for silence
  double rate = 0.0;         // of the samples analysed; 0 before any analysis
};
extern SpectrumLevels spectrumLevels;
// One frame of the spectrogram's short analysis: the level of each bin in
// dBFS (a full-scale sine centred on its bin reads 0).
struct SpectrogramColumn {
  std::uint64_t firstSample = 0;  // the take's sample the frame begins with
  std::uint32_t points = 0;       // the frame's size; it has points / 2 bins
  double rate = 0.0;
  std::vector<float> dbfs;
};
// The spectrogram's frame size while it is shown, as a multiple of about
// 5 ms (SpectrogramPoints); 0 while it is not, and nothing is fed to it.
// Writer: UI thread. Readers: recording thread,
// per packet; analysis worker, per batch of samples.
extern std::atomic<std::uint32_t> spectrogramFrameMultiple;
// Guarded by queueMutex. Producer: recording thread (appends the first
// channel while spectrogramFrameMultiple is not 0; at most SPECTROGRAM_PENDING
// samples wait). Consumer: analysis worker (takes them all).
constexpr std::size_t SPECTROGRAM_PENDING = 1 << 20;
extern std::vector<std::int16_t> spectrogramSamples;
// Guarded by spectrogramMutex. Producer: analysis worker (appends; beyond
// SPECTROGRAM_COLUMNS the oldest are dropped: a window too slow to take
// them loses columns, never the analysis its samples). Consumer: UI thread
// (takes them all at each paint; empties it at Start).
constexpr std::size_t SPECTROGRAM_COLUMNS = 4096;
extern std::mutex spectrogramMutex;
extern std::deque<SpectrogramColumn> spectrogramColumns;
// Analysis worker only; workers never overlap. Filled once per process.
extern std::vector<float> windowTable;
// Guarded by queueMutex. Producer: recording thread (at most 4 frames).
// Consumer: analysis worker (takes from the front).
extern std::queue<AnalysisFrame, std::deque<AnalysisFrame>> frameQueue;
// Recording thread only: the analysis worker it started and joins.
extern std::thread analysisThread;
// Recording thread only, read and written while displayMutex is held: the
// time of the last queued frame. Set once per process when the first
// recording's output file is open.
extern std::chrono::steady_clock::time_point lastAnalysisTime;
