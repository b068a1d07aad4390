#pragma once

#include <cstdint>
#include <string>

#include "capture/audio_source.h"
#include "state/notifier.h"

// Body of the recording thread: records the default device into the file at
// path until isRecording is cleared, then writes the WAV file. Ends every
// recording, whatever became of it, by storing recordingOutcome and posting
// WM_RECORDING_DONE to window.
void CaptureThreadMain(std::wstring path, WindowHandle window);

// The same on a given source. maxDataBytes caps the take (rounded down to
// whole frames); reaching it ends the recording as a Stop would.
void RecordFromSource(AudioSource& source, const std::wstring& path, WindowHandle window,
                      std::uint64_t maxDataBytes);
