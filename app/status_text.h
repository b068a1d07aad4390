#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "state/recorder_state.h"

// The status line shows its label's width (340 px at 96 DPI) whole in the
// message font: every text here is short enough, but for the folders of a
// path, which the label shortens with an ellipsis that keeps the file name
// and what follows it. A cause that needs more room goes in a box.

// The status line for a finished recording. failureCode matters only for
// RecordingOutcome::SavedCaptureFailed. clips, the packets with a sample at
// full scale, and gaps, the packets that came after samples were lost, are
// told after a take that ended at Stop.
std::wstring OutcomeStatusText(RecordingOutcome outcome, const std::wstring& path, std::uint32_t failureCode = 0,
                               std::uint32_t gaps = 0, std::uint32_t clips = 0);
// The text of the error box that follows such a status line, if any: the
// whole cause of a recording that could not start.
std::wstring OutcomeBoxText(RecordingOutcome outcome, const StartFailure& failure = {});
std::wstring SavedToText(const std::wstring& path);
// Whether a recording could not start because its device is no longer there.
bool DeviceWasGone(const StartFailure& failure);

// Why a file could not be written, in the user's words, to follow "because".
std::wstring FileErrorCause(const FileError& error);
// The same in a few words, for the status line.
std::wstring ShortFileErrorCause(const FileError& error);
// The status line while a take that could not be written waits in memory;
// of one whose recording memory ended, "(stopped: out of memory)" follows
// the cause, where the line has room for it.
std::wstring WriteFailedStatusText(const FileError& error, bool stoppedOutOfMemory = false);
// How long a take is: "35 s", "4 min 12 s", "1 h 05 min 12 s".
std::wstring TakeLengthText(std::size_t samples, std::int32_t channels, std::int32_t rate);
// The questions about such a take.
std::wstring SaveElsewhereQuestion(const std::wstring& path, const FileError& error, const std::wstring& length,
                                  bool stoppedOutOfMemory = false);
std::wstring DiscardQuestion(const std::wstring& length);

// The status line at the start after a session's end that no place would
// take a recording from.
inline constexpr const wchar_t* RECORDING_LOST_TEXT = L"A recording was lost when the session ended.";
// What became of a take that the end of a session found only partly saved:
// where its rescued part went (path; empty when no place took it) and
// where its beginning is.
std::wstring RescuedNotice(const UnsavedTake& take, const std::wstring& path);
// The same while the rescue into path runs: what the next start says if
// the process is ended before it has finished.
std::wstring RescuingNotice(const UnsavedTake& take, const std::wstring& path);
// A take saved to path without the beginning, which the partial file keeps.
std::wstring SavedInTwoPartsNotice(const UnsavedTake& take, const std::wstring& path);

// What the status line tells while recording, besides that it records.
struct RecordingNotices {
  std::uint32_t seconds = 0;  // the take's length
  std::uint32_t gaps = 0;     // packets that came after samples were lost
  std::uint32_t clips = 0;    // packets with a sample at full scale
  bool notSaved = false;  // the file takes no more of the recording, because of writeError
  FileError writeError{};
  std::uint32_t stalledSeconds = 0;  // the device has delivered nothing for this long
  std::uint32_t diskSecondsLeft = UINT32_MAX;  // of the take that the file's volume still holds
  bool fileSizeLimit = false;  // those end at the largest file the volume holds (FAT32's 4 GB)
};
// Below this the status line counts down to a full disk.
constexpr std::uint32_t DISK_NOTICE_SECONDS = 600;
// "Recording... 0:42" ("1:02:03" past an hour), with the most pressing
// notice in brackets.
std::wstring RecordingStatusText(const RecordingNotices& notices);
