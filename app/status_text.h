#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "state/recorder_state.h"

// The status line for a finished recording. failure matters only for
// RecordingOutcome::CouldNotStart, failureCode only for
// RecordingOutcome::SavedCaptureFailed.
// gaps, the packets that came after samples were lost, is told after a
// saved take.
std::wstring OutcomeStatusText(RecordingOutcome outcome, const std::wstring& path,
                               const StartFailure& failure = {}, std::uint32_t failureCode = 0,
                               std::uint32_t gaps = 0);

// Why a file could not be written, in the user's words, to follow "because".
std::wstring FileErrorCause(const FileError& error);
// The status line while a take that could not be written waits in memory.
std::wstring WriteFailedStatusText(const FileError& error);
// How long a take is: "35 s", "4 min 12 s", "1 h 05 min 12 s".
std::wstring TakeLengthText(std::size_t samples, std::int32_t channels, std::int32_t rate);
// The questions about such a take.
std::wstring SaveElsewhereQuestion(const std::wstring& path, const FileError& error, const std::wstring& length);
std::wstring DiscardQuestion(const std::wstring& length);

// What the status line tells while recording, besides that it records.
struct RecordingNotices {
  std::uint32_t seconds = 0;  // the take's length
  std::uint32_t gaps = 0;     // packets that came after samples were lost
  bool notSaved = false;  // the file takes no more of the recording, because of writeError
  FileError writeError{};
  std::uint32_t stalledSeconds = 0;  // the device has delivered nothing for this long
};
// "Recording... 0:42" ("1:02:03" past an hour), with what the notices say
// in brackets.
std::wstring RecordingStatusText(const RecordingNotices& notices);
