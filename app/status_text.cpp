#include "app/status_text.h"

#include <cerrno>
#include <cwchar>
#include <iterator>

#include "capture/audio_source.h"

namespace {

// Results of the audio service that mean the same at whichever step they come.
constexpr std::uint32_t AUDCLNT_E_DEVICE_IN_USE = 0x8889000A;
constexpr std::uint32_t E_ACCESSDENIED = 0x80070005;
constexpr std::uint32_t E_NOTFOUND = 0x80070490;  // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)

// Why a recording could not start, in the user's words; a device the user
// chose is named so.
std::wstring StartFailureCause(const StartFailure& failure) {
  const std::wstring device = failure.chosenDevice ? L"the chosen microphone" : L"the recording device";
  switch (failure.code) {
    case static_cast<std::uint32_t>(RESULT_DEVICE_INVALIDATED): return device + L" was disconnected";
    case AUDCLNT_E_DEVICE_IN_USE: return device + L" is in use by another program";
    case static_cast<std::uint32_t>(RESULT_SERVICE_NOT_RUNNING): return L"the Windows audio service is not running";
    case E_ACCESSDENIED:
      return L"access to the microphone was denied (see the microphone privacy settings)";
    default: break;
  }
  switch (failure.step) {
    case StartStep::CreateDeviceEnumerator: return L"the Windows audio system is not available";
    case StartStep::GetDefaultAudioEndpoint:
      return failure.code == E_NOTFOUND ? L"no recording device is available"
                                        : L"the default recording device could not be found";
    case StartStep::GetDevice: return device + L" is not connected";
    case StartStep::ActivateAudioClient: return device + L" could not be opened";
    case StartStep::GetMixFormat: return device + L" did not report its format";
    case StartStep::Initialize: return device + L" refused the recording stream";
    case StartStep::GetCaptureService: return device + L" offers no capture stream";
    case StartStep::Start: return device + L" could not be started";
    case StartStep::StartAnalysisWorker: return L"no thread could be started for the spectrum";
    case StartStep::StartFileWriter: return L"no thread could be started for writing the file";
    case StartStep::None: break;
  }
  return device + L" could not be used";
}

std::wstring HexCode(std::uint32_t code) {
  wchar_t text[16];
  std::swprintf(text, sizeof text / sizeof text[0], L"0x%08X", static_cast<unsigned>(code));
  return text;
}

std::wstring GapsText(std::uint32_t gaps) {
  return std::to_wstring(gaps) + (gaps == 1 ? L" gap" : L" gaps");
}

std::wstring ClippedText(std::uint32_t clips) {
  return L"clipped " + std::to_wstring(clips) + (clips == 1 ? L" time" : L" times");
}

std::wstring InBrackets(const std::wstring& remark) { return remark.empty() ? L"" : L" (" + remark + L")"; }

const wchar_t* const COULD_NOT_START = L"Could not start recording. Nothing was saved.";

std::wstring CouldNotStartText(const StartFailure& failure) {
  std::wstring text = L"Could not start recording: ";
  text += StartFailureCause(failure);
  if (failure.code != 0) text += L" (error " + HexCode(failure.code) + L")";
  return text + L". Nothing was saved.";
}

// Windows' own codes (GetLastError) for the failures a user can act on.
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_INVALID_DRIVE = 15;
constexpr std::uint32_t ERROR_WRITE_PROTECT = 19;
constexpr std::uint32_t ERROR_NOT_READY = 21;
constexpr std::uint32_t ERROR_HANDLE_DISK_FULL = 39;
constexpr std::uint32_t ERROR_DEV_NOT_EXIST = 55;
constexpr std::uint32_t ERROR_NETNAME_DELETED = 64;
constexpr std::uint32_t ERROR_DISK_FULL = 112;
constexpr std::uint32_t ERROR_FILE_TOO_LARGE = 223;
constexpr std::uint32_t ERROR_FILE_INVALID = 1006;  // the volume was changed or removed
constexpr std::uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;

enum class FileFault { DiskFull, ReadOnly, Denied, Gone, TooLarge, OtherWindows, OtherSystem };

FileFault ClassifyFileError(const FileError& error) {
  // EFBIG is the writer's own word that the file stopped at the largest
  // file its volume holds; the system code beside it is how the volume
  // refused the write (FAT's "disk full" past 4 GB).
  if (error.errnoValue == EFBIG) return FileFault::TooLarge;
  // The system's own code says most; the runtime's errno stands in where
  // there is none (other systems, or a short write on a full disk).
  switch (error.systemCode) {
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return FileFault::DiskFull;
    case ERROR_WRITE_PROTECT: return FileFault::ReadOnly;
    case ERROR_ACCESS_DENIED: return FileFault::Denied;
    case ERROR_FILE_TOO_LARGE: return FileFault::TooLarge;
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE: case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST: case ERROR_NETNAME_DELETED: case ERROR_FILE_INVALID:
    case ERROR_DEVICE_NOT_CONNECTED:
      return FileFault::Gone;
    case 0: break;
    default: return FileFault::OtherWindows;
  }
  switch (error.errnoValue) {
    case ENOSPC: return FileFault::DiskFull;
    case EROFS: return FileFault::ReadOnly;
    case EACCES: case EPERM: return FileFault::Denied;
    case EFBIG: return FileFault::TooLarge;
    case ENOENT: case ENXIO: case ENODEV: case EIO: return FileFault::Gone;
    default: return FileFault::OtherSystem;
  }
}

// A file's fault in full, for the boxes, or briefly, for the status line.
std::wstring CauseInWords(const FileError& error, bool brief) {
  const auto say = [brief](const wchar_t* full, const wchar_t* briefly) { return brief ? briefly : full; };
  switch (ClassifyFileError(error)) {
    case FileFault::DiskFull: return say(L"the disk is full", L"disk full");
    case FileFault::ReadOnly: return say(L"the disk is write-protected", L"disk write-protected");
    case FileFault::Denied: return say(L"Windows denied access to the file", L"access denied");
    case FileFault::Gone: return say(L"the disk or folder is no longer there", L"disk or folder gone");
    case FileFault::TooLarge: return say(L"the file is too large for this disk", L"file too large");
    case FileFault::OtherWindows:
      return say(L"Windows reported error ", L"error ") + std::to_wstring(error.systemCode);
    case FileFault::OtherSystem: break;
  }
  return say(L"the system reported error ", L"system error ") + std::to_wstring(error.errnoValue);
}

}  // namespace

std::wstring OutcomeStatusText(RecordingOutcome outcome, const std::wstring& path, std::uint32_t failureCode,
                               std::uint32_t gaps, std::uint32_t clips) {
  // One remark at most: a path leaves room for no more. A stop outranks the
  // clipping, which outranks the gaps; all were told while recording.
  std::wstring remark;
  switch (outcome) {
    case RecordingOutcome::Saved: break;
    case RecordingOutcome::SavedDeviceLost: remark = L"stopped: device lost"; break;
    case RecordingOutcome::SavedServiceStopped: remark = L"audio service stopped"; break;
    case RecordingOutcome::SavedCaptureFailed: remark = L"device error " + HexCode(failureCode); break;
    case RecordingOutcome::SavedOutOfMemory: remark = L"stopped: out of memory"; break;
    case RecordingOutcome::SavedDiskTooSlow: remark = L"stopped: disk too slow"; break;
    case RecordingOutcome::CouldNotStart:
    case RecordingOutcome::FormatNotSupported:
      return COULD_NOT_START;  // the cause comes in a box: it does not fit here
    case RecordingOutcome::FileNotOpened:
      return L"Could not open the file for writing. Nothing was saved.";
    case RecordingOutcome::WriteFailed:
      return L"Writing the file failed. The recording was not saved.";  // nothing was kept
    case RecordingOutcome::None:
      return L"Recording ended.";
  }
  if (remark.empty() && clips != 0) remark = ClippedText(clips);
  if (remark.empty() && gaps != 0) remark = GapsText(gaps);
  return SavedToText(path) + InBrackets(remark);
}

std::wstring OutcomeBoxText(RecordingOutcome outcome, const StartFailure& failure) {
  switch (outcome) {
    case RecordingOutcome::CouldNotStart: return CouldNotStartText(failure);
    case RecordingOutcome::FormatNotSupported:
      return L"Could not start recording: the recording device's sample format is not supported. "
             L"Nothing was saved.";
    case RecordingOutcome::FileNotOpened: return L"Cannot open file for writing";
    default: return {};
  }
}

std::wstring SavedToText(const std::wstring& path) { return L"Saved to: " + path; }

bool DeviceWasGone(const StartFailure& failure) {
  switch (static_cast<AudioResult>(failure.code)) {
    case RESULT_DEVICE_INVALIDATED: case RESULT_ENDPOINT_CREATE_FAILED: case RESULT_NOT_FOUND: return true;
    default: return failure.step == StartStep::GetDevice;
  }
}

std::wstring RecordingStatusText(const RecordingNotices& notices) {
  wchar_t length[32];
  const std::uint32_t s = notices.seconds;
  if (s < 3600) {
    std::swprintf(length, std::size(length), L"%u:%02u", s / 60, s % 60);
  } else {
    std::swprintf(length, std::size(length), L"%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
  }
  // One notice at a time, the one that most needs the user: a file that
  // takes no more, a disk about to fill, a silent device, the clipping,
  // then the gaps (none come while the device is silent).
  std::wstring remark;
  if (notices.notSaved) {
    remark = L"not saved: " + ShortFileErrorCause(notices.writeError);
  } else if (notices.diskSecondsLeft < DISK_NOTICE_SECONDS) {
    // The minutes rounded up: 60 s left is "in 1 min", 61 s "in 2 min".
    remark = (notices.fileSizeLimit ? L"4 GB limit in " : L"disk full in ") +
             std::to_wstring((notices.diskSecondsLeft + 59) / 60) + L" min";
  } else if (notices.stalledSeconds != 0) {
    remark = L"no sound for " + std::to_wstring(notices.stalledSeconds) + L" s";
  } else if (notices.clips != 0) {
    remark = ClippedText(notices.clips);
  } else if (notices.gaps != 0) {
    remark = GapsText(notices.gaps);
  }
  return L"Recording... " + std::wstring(length) + InBrackets(remark);
}

std::wstring FileErrorCause(const FileError& error) { return CauseInWords(error, false); }

std::wstring ShortFileErrorCause(const FileError& error) { return CauseInWords(error, true); }

std::wstring WriteFailedStatusText(const FileError& error, bool stoppedOutOfMemory) {
  return L"Not saved yet: " + ShortFileErrorCause(error) + (stoppedOutOfMemory ? L" (stopped: out of memory)." : L".");
}

std::wstring TakeLengthText(std::size_t samples, std::int32_t channels, std::int32_t rate) {
  const std::size_t perSecond = static_cast<std::size_t>(channels) * static_cast<std::size_t>(rate);
  const std::size_t seconds = perSecond == 0 ? 0 : samples / perSecond;
  wchar_t text[48];
  if (seconds < 60) {
    std::swprintf(text, std::size(text), L"%zu s", seconds);
  } else if (seconds < 3600) {
    std::swprintf(text, std::size(text), L"%zu min %zu s", seconds / 60, seconds % 60);
  } else {
    std::swprintf(text, std::size(text), L"%zu h %02zu min %02zu s", seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return text;
}

std::wstring SaveElsewhereQuestion(const std::wstring& path, const FileError& error, const std::wstring& length,
                                  bool stoppedOutOfMemory) {
  return L"The recording could not be saved to\n" + path + L"\nbecause " + FileErrorCause(error) +
         L".\n\nThe recording (" + length + (stoppedOutOfMemory ? L", stopped when memory ran out" : L"") +
         L") is still here. Save it somewhere else?\n\nChoose No to discard it.";
}

std::wstring DiscardQuestion(const std::wstring& length) {
  return L"Discard the recording (" + length + L")? It cannot be recovered.";
}

std::wstring RescuedNotice(const UnsavedTake& take, const std::wstring& path) {
  const auto length = [&](std::uint64_t samples) { return TakeLengthText(samples, take.channels, take.sampleRate); };
  const std::wstring ended = L"When Windows ended the session, the recording ";
  const std::wstring rest = length(take.samples.size() - take.inFile);
  if (take.inFile == 0) {
    return path.empty() ? ended + L"(" + rest + L") could not be saved anywhere and was lost."
                        : ended + L"was saved to\n" + path;
  }
  const std::wstring first = L"(" + length(take.inFile) + L") in\n" + take.partialFile;
  if (path.empty()) {
    return ended + L"could not be saved anywhere: its last " + rest + L" were lost. The first part is " +
           first;
  }
  return ended + L"was saved in two parts: the first " + first + L"\nand the rest (" + rest + L") in\n" + path;
}

std::wstring RescuingNotice(const UnsavedTake& take, const std::wstring& path) {
  const auto length = [&](std::uint64_t samples) { return TakeLengthText(samples, take.channels, take.sampleRate); };
  const std::wstring rest = length(take.samples.size() - take.inFile);
  const std::wstring cut = L"\nwhich holds what had been saved when Vellora was ended.";
  if (take.inFile == 0) {
    return L"When Windows ended the session, the recording (" + rest + L") was being saved to\n" + path + cut;
  }
  return L"When Windows ended the session, the recording was being saved in two parts: the first (" +
         length(take.inFile) + L") in\n" + take.partialFile + L"\nand the rest (" + rest + L") in\n" + path + cut;
}

std::wstring SavedInTwoPartsNotice(const UnsavedTake& take, const std::wstring& path) {
  return L"The first part of the recording (" + TakeLengthText(take.inFile, take.channels, take.sampleRate) +
         L") could not be read back from\n" + take.partialFile + L"\nwhich keeps it, valid up to the failure. " +
         L"The rest (" + TakeLengthText(take.samples.size() - take.inFile, take.channels, take.sampleRate) +
         L") was saved to\n" + path;
}
