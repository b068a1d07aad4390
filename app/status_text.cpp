#include "app/status_text.h"

#include <cwchar>

namespace {

// Results of the audio service that mean the same at whichever step they come.
constexpr std::uint32_t AUDCLNT_E_DEVICE_INVALIDATED = 0x88890004;
constexpr std::uint32_t AUDCLNT_E_DEVICE_IN_USE = 0x8889000A;
constexpr std::uint32_t AUDCLNT_E_SERVICE_NOT_RUNNING = 0x88890010;
constexpr std::uint32_t E_ACCESSDENIED = 0x80070005;
constexpr std::uint32_t E_NOTFOUND = 0x80070490;  // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)

// Why a recording could not start, in the user's words.
const wchar_t* StartFailureCause(const StartFailure& failure) {
  switch (failure.code) {
    case AUDCLNT_E_DEVICE_INVALIDATED: return L"the recording device was disconnected";
    case AUDCLNT_E_DEVICE_IN_USE: return L"the recording device is in use by another program";
    case AUDCLNT_E_SERVICE_NOT_RUNNING: return L"the Windows audio service is not running";
    case E_ACCESSDENIED:
      return L"access to the microphone was denied (see the microphone privacy settings)";
    default: break;
  }
  switch (failure.step) {
    case StartStep::CreateDeviceEnumerator: return L"the Windows audio system is not available";
    case StartStep::GetDefaultAudioEndpoint:
      return failure.code == E_NOTFOUND ? L"no recording device is available"
                                        : L"the default recording device could not be found";
    case StartStep::ActivateAudioClient: return L"the recording device could not be opened";
    case StartStep::GetMixFormat: return L"the recording device did not report its format";
    case StartStep::Initialize: return L"the recording device refused the recording stream";
    case StartStep::GetCaptureService: return L"the recording device offers no capture stream";
    case StartStep::Start: return L"the recording device could not be started";
    case StartStep::StartAnalysisWorker: return L"no thread could be started for the spectrum";
    case StartStep::None: break;
  }
  return L"the recording device could not be used";
}

std::wstring CouldNotStartText(const StartFailure& failure) {
  std::wstring text = L"Could not start recording: ";
  text += StartFailureCause(failure);
  if (failure.code != 0) {
    wchar_t code[32];
    std::swprintf(code, sizeof code / sizeof code[0], L" (error 0x%08X)", static_cast<unsigned>(failure.code));
    text += code;
  }
  return text + L". Nothing was saved.";
}

}  // namespace

std::wstring OutcomeStatusText(RecordingOutcome outcome, const std::wstring& path,
                               const StartFailure& failure) {
  switch (outcome) {
    case RecordingOutcome::Saved:
      return L"Saved to: " + path;
    case RecordingOutcome::SavedAtLimit:
      return L"Saved to: " + path + L" (stopped at the 4 GB limit of a WAV file)";
    case RecordingOutcome::SavedDeviceLost:
      return L"Saved to: " + path + L" (stopped: the recording device was lost)";
    case RecordingOutcome::SavedOutOfMemory:
      return L"Saved to: " + path + L" (stopped: out of memory)";
    case RecordingOutcome::CouldNotStart:
      return CouldNotStartText(failure);
    case RecordingOutcome::FormatNotSupported:
      return L"Could not start recording: the recording device's sample format is not supported. "
             L"Nothing was saved.";
    case RecordingOutcome::FileNotOpened:
      return L"Could not open the file for writing. Nothing was saved.";
    case RecordingOutcome::WriteFailed:
      return L"Writing the file failed. The recording was not saved.";
    case RecordingOutcome::None:
      break;
  }
  return L"Recording ended.";
}

std::wstring RecordingStatusText(std::uint32_t seconds) {
  if (seconds == 0) return L"Recording...";
  return L"Recording... (no sound from the recording device for " + std::to_wstring(seconds) + L" s)";
}
