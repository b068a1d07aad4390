#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/device_choice.h"
#include "app/spectrum_menu.h"
#include "state/recorder_state.h"

constexpr unsigned ID_START = 1;
constexpr unsigned ID_STOP = 2;
constexpr unsigned ID_LEVEL = 3;
constexpr unsigned ID_WAVEFORM = 4;
constexpr unsigned ID_SPECTRUM = 5;
constexpr unsigned ID_DEVICE = 6;  // the button that opens the device menu

// How a question box was answered; NoAnswer when no box could be shown.
enum class Answer { Yes, No, NoAnswer };

// What the commands need from the main window. The platform implements it
// with the Win32 calls named beside each operation.
class WindowOps {
 public:
  virtual ~WindowOps() = default;
  // GetSaveFileNameW with "output.wav"; empty when cancelled or failed.
  virtual std::wstring AskSavePath() = 0;
  virtual void SetStatusText(const std::wstring& text) = 0;  // SetWindowTextW on the status line
  // GetTextExtentPoint32W in the status line's font: whether the text fits
  // its width.
  virtual bool FitsStatusLine(const std::wstring& text) = 0;
  // MessageBoxW owned by the main window with MB_ICONERROR; returns once dismissed.
  virtual void ShowErrorBox(const std::wstring& text, const std::wstring& caption) = 0;
  // The same, captioned "Vellora", with MB_ICONINFORMATION.
  virtual void ShowNotice(const std::wstring& text) = 0;
  // MessageBoxW owned by the main window, captioned "Vellora", with
  // MB_YESNO | MB_ICONWARNING, and MB_DEFBUTTON2 when No is the default.
  virtual Answer AskYesNo(const std::wstring& question, bool noIsDefault) = 0;
  // ShutdownBlockReasonCreate on the main window: the reason Windows shows
  // while this program holds up the end of the session.
  virtual void BlockShutdown(const std::wstring& reason) = 0;
  virtual void AllowShutdown() = 0;  // ShutdownBlockReasonDestroy
  // SetFocus on the button, now if the window is active, else when it is
  // activated again.
  virtual void FocusButton(unsigned id) = 0;
  virtual void DisableButtons() = 0;     // EnableWindow(FALSE) on Start, then Stop
  virtual void EnableButtons() = 0;      // EnableWindow(TRUE) on Start, then Stop
  virtual void InvalidatePanels() = 0;   // InvalidateRect: waveform, level, spectrum
  // DestroyWindow: WM_DESTROY, and so OnDestroy, runs before it returns.
  virtual void DestroyMainWindow() = 0;
  virtual void PostQuit() = 0;           // PostQuitMessage(0)
  // SHGetKnownFolderPath(FOLDERID_Documents or FOLDERID_LocalAppData);
  // empty when there is none.
  enum class Folder { Documents, LocalAppData };
  virtual std::wstring KnownFolder(Folder folder) = 0;
  // A string value under HKCU\Software\Vellora; empty when there is none.
  virtual std::wstring ReadSetting(const std::wstring& name) = 0;
  virtual void WriteSetting(const std::wstring& name, const std::wstring& value) = 0;
  // Every string value under HKCU\Software\Vellora\KEY, as (name, value),
  // by name (RegEnumValueW); a value is written there, or removed when
  // empty, by name.
  virtual std::vector<std::pair<std::wstring, std::wstring>> ReadSettingsIn(const std::wstring& key) = 0;
  virtual void WriteSettingIn(const std::wstring& key, const std::wstring& name, const std::wstring& value) = 0;
  // IMMDeviceEnumerator::EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE):
  // each device's id and PKEY_Device_FriendlyName; empty when there is none.
  virtual std::vector<RecordingDevice> ActiveRecordingDevices() = 0;
  // TrackPopupMenu below the device button, with TPM_RETURNCMD: the index
  // of the entry picked, or -1. Runs a message loop of its own meanwhile.
  virtual int ShowDeviceMenu(const std::vector<DeviceMenuItem>& items) = 0;
  // TrackPopupMenu with TPM_RETURNCMD at the screen point, or below the
  // spectrum panel's top-left corner for (-1, -1) (the keyboard's menu
  // key): the index of the entry picked, or -1. Runs a message loop of its
  // own meanwhile.
  virtual int ShowSpectrumMenu(const std::vector<SpectrumMenuItem>& items, int x, int y) = 0;
  // OpenClipboard, EmptyClipboard and SetClipboardData(CF_UNICODETEXT).
  virtual void CopyText(const std::wstring& text) = 0;
  // The spectrum panel as it is drawn, as a picture on the clipboard.
  virtual void CopySpectrumPicture() = 0;
};

// Handlers of the user-interface thread, one per message or command.
// Once the window is on the screen: tells where the take went that
// only memory held when the last session ended.
void OnStartup(WindowOps& window);
void OnCommand(WindowOps& window, unsigned id);
void OnStart(WindowOps& window);
void OnStop();
void OnRecordingStarted(WindowOps& window);
void OnRecordingSaving(WindowOps& window);
void OnRecordingDone(WindowOps& window);
void OnTakeSaved(WindowOps& window);
void OnCaptureStalled(WindowOps& window);
void OnWriteFailed(WindowOps& window);
void OnUpdateVisuals(WindowOps& window);
// The device button: the menu of recording devices, which picks the one
// the next recording records.
void OnDeviceButton(WindowOps& window);
// WM_DEVICES_CHANGED: a recording device came or went, or Windows' default
// changed.
void OnDevicesChanged(WindowOps& window);
// The spectrum's context menu (WM_CONTEXTMENU over it) at the screen
// point, (-1, -1) from the keyboard.
void OnSpectrumMenu(WindowOps& window, int x, int y);
void OnClose(WindowOps& window);
void OnDestroy(WindowOps& window);
// WM_ENDSESSION: when the session really ends, the recording is written,
// and a take only memory holds is kept in the rescue folder, before this
// returns, as Windows may end the process as soon as it has. Nothing holds
// up the session's end (WM_QUERYENDSESSION): whatever waits is safe.
void OnEndSession(WindowOps& window, bool ending);
