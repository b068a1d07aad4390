#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/analysis_worker.h"
#include "capture/audio_source.h"
#include "capture/memory_left.h"
#include "capture/take_writer.h"
#include "capture/wav_writer.h"
#include "state/notifier.h"

// Body of the recording thread: records the device of endpoint id deviceId
// (Windows' default recording device when empty) into the file at path until isRecording is cleared, the file being written as it goes. Ends every
// recording, whatever became of it, by storing recordingOutcome and posting
// WM_RECORDING_DONE to window.
void CaptureThreadMain(std::wstring path, WindowHandle window, std::wstring deviceId);

// The limits a recording runs under; tests shrink them.
struct RecordingLimits {
  // How far the file may fall behind capture while its disk still takes
  // it: memory holds what the file has not yet taken, and past this much
  // the disk is too slow to keep up, which ends the recording as a Stop
  // would. Once the disk has failed, the take goes on into memory as long
  // as there is memory.
  std::uint64_t maxBehindBytes = std::uint64_t{256} << 20;
  // How long the device may deliver nothing before the window is told.
  std::chrono::milliseconds stallNotice{2000};
  // Blocks of SampleTake::BLOCK_SAMPLES memory may hold; it runs out after them.
  std::size_t maxTakeBlocks = SIZE_MAX;
  // Once the disk has failed the take grows in memory, and the recording
  // stops ("stopped: out of memory", the take kept) while this much is still
  // left to the process: the window and the save of the take need some,
  // and an allocation of the window's that failed would end the process
  // with the take. Asked of memoryLeft at each block the take grows by.
  std::uint64_t memoryMargin = std::uint64_t{256} << 20;
  std::uint64_t (*memoryLeft)() = MemoryLeft;
  // Starts the analysis worker; false when no thread could be created.
  bool (*startAnalysisWorker)() = StartAnalysisWorker;
  // How the file is written while recording, and through which calls.
  WriterTiming writer{};
  const FileCalls* files = &SystemFileCalls();
};

// Body of the thread that writes unsavedTake to path, a place the user chose
// after the take's own file could not be written. Stores the outcome in
// unsavedTake->error (empty when written), removes the partial file once the
// whole take is saved (not when only the rest could be: it holds the
// beginning), and posts WM_TAKE_SAVED to window.
void SaveTakeMain(std::wstring path, WindowHandle window);

// The same on a given source.
void RecordFromSource(AudioSource& source, const std::wstring& path, WindowHandle window,
                      const RecordingLimits& limits = {}, const std::wstring& deviceId = {});
