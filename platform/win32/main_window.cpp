#include <windows.h>
#include <windowsx.h>

#include <commdlg.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

#include "app/commands.h"
#include "display/panels.h"
#include "display/window_layout.h"
#include "platform/win32/gdi_painter.h"
#include "platform/win32/recording_devices.h"
#include "platform/win32/win32_handles.h"
#include "state/recorder_state.h"

namespace {

// UI thread only: the control that has the keyboard focus while the window
// is active, given back to it when the window is activated again.
HWND focusedControl = nullptr;

// The seven controls; written once in WM_CREATE, UI thread only.
HWND startButton = nullptr;
HWND stopButton = nullptr;
HWND deviceButton = nullptr;
HWND statusLabel = nullptr;
HWND levelPanel = nullptr;
HWND waveformPanel = nullptr;
HWND spectrumPanel = nullptr;

// UI thread only: the window's DPI, from its creation and WM_DPICHANGED;
// what every coordinate, the font and the panels' pens are scaled for.
int windowDpi = BASE_DPI;

// UI thread only: the system's message font for the window's DPI, on the
// buttons, the status line and the panels' labels; replaced when the DPI
// changes, deleted once the window has gone.
HFONT messageFont = nullptr;

constexpr DWORD OWNER_DRAWN_PANEL = WS_CHILD | WS_VISIBLE | SS_OWNERDRAW;
const wchar_t* const SETTINGS_KEY = L"Software\\Vellora";

// The seven controls at 96 DPI, in the order they are created; every other
// DPI scales each coordinate and size as MulDiv does (ScaleToDpi).
struct ControlSpec {
  HWND* handle;
  const wchar_t* className;
  const wchar_t* text;
  DWORD style;
  ControlBox box;
  unsigned id;
  Grows grows;
};

// Tab moves between the buttons; Space and Enter press the focused one.
// The status line and the panels grow with the window, the spectrum in
// height too.
const ControlSpec CONTROLS[] = {
    {&startButton, L"BUTTON", L"Start Recording", WS_CHILD | WS_VISIBLE | WS_TABSTOP, {20, 20, 140, 30}, ID_START,
     Grows::No},
    {&stopButton, L"BUTTON", L"Stop", WS_CHILD | WS_VISIBLE | WS_TABSTOP, {180, 20, 80, 30}, ID_STOP, Grows::No},
    // Opens the menu of recording devices; right-aligned with the panels at the first size.
    {&deviceButton, L"BUTTON", L"Microphone", WS_CHILD | WS_VISIBLE | WS_TABSTOP, {280, 20, 80, 30}, ID_DEVICE,
     Grows::No},
    // One line; a path too long for it loses folders, never its file name or
    // what follows; an & in a path is not a mnemonic.
    {&statusLabel, L"STATIC", L"Ready", WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS | SS_NOPREFIX, {20, 60, 340, 20}, 0,
     Grows::InWidth},
    {&levelPanel, L"STATIC", nullptr, OWNER_DRAWN_PANEL, {20, 90, 340, 20}, ID_LEVEL, Grows::InWidth},
    {&waveformPanel, L"STATIC", nullptr, OWNER_DRAWN_PANEL, {20, 120, 340, 40}, ID_WAVEFORM, Grows::InWidth},
    {&spectrumPanel, L"STATIC", nullptr, OWNER_DRAWN_PANEL, {20, 170, 340, 40}, ID_SPECTRUM, Grows::InWidthAndHeight},
};

// The window's DPI: GetDpiForWindow where Windows has it (10, 1607 on), the
// screen's otherwise, and for no window.
int WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (window != nullptr && getDpiForWindow != nullptr) {
    if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : BASE_DPI;
}

void CreateControls(HWND window) {
  for (const ControlSpec& control : CONTROLS) {
    const ControlBox box = LaidOut(control.box, Grows::No, {}, windowDpi);
    *control.handle = CreateWindowExW(0, control.className, control.text, control.style, box.x, box.y, box.width,
                                      box.height, window, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(control.id)),
                                      nullptr, nullptr);
  }
}

// The window was resized, or moved to a screen of another DPI: every
// control to its place for the window's size there.
void LayoutControls(HWND window) {
  RECT outer{}, client{};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  const Growth growth =
      GrowthOf(outer.right - outer.left, outer.bottom - outer.top, client.right, client.bottom, windowDpi);
  for (const ControlSpec& control : CONTROLS) {
    const ControlBox box = LaidOut(control.box, control.grows, growth, windowDpi);
    SetWindowPos(*control.handle, nullptr, box.x, box.y, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

const wchar_t* const PLACE_SETTING = L"WindowPlace";

// Where the window was when it closed, for the next start.
void RememberPlace(HWND window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(window, &placement)) return;
  const RECT& r = placement.rcNormalPosition;
  const std::wstring text = WindowPlaceText(
      {{r.left, r.top, r.right - r.left, r.bottom - r.top}, placement.showCmd == SW_SHOWMAXIMIZED, windowDpi});
  RegSetKeyValueW(HKEY_CURRENT_USER, SETTINGS_KEY, PLACE_SETTING, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Shows the window where it was last, on the screen nearest that place;
// as the system places it the first time.
void ShowInRememberedPlace(HWND window, int showCommand) {
  wchar_t text[128] = L"";
  DWORD bytes = sizeof text;
  WindowPlace place;
  if (RegGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, PLACE_SETTING, RRF_RT_REG_SZ, nullptr, text, &bytes) !=
          ERROR_SUCCESS ||
      !ParseWindowPlace(text, place)) {
    ShowWindow(window, showCommand);
    return;
  }
  place.box = PlaceAtDpi(place, windowDpi);
  const RECT wanted{place.box.x, place.box.y, place.box.x + place.box.width, place.box.y + place.box.height};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    place.box = KeptOnScreen(place.box, {work.left, work.top, work.right - work.left, work.bottom - work.top});
  }
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  placement.rcNormalPosition = {place.box.x, place.box.y, place.box.x + place.box.width, place.box.y + place.box.height};
  placement.showCmd = static_cast<UINT>(place.maximised ? SW_SHOWMAXIMIZED : showCommand);
  SetWindowPlacement(window, &placement);
}

// The system's message font (the one its message boxes use) at this DPI:
// SystemParametersInfoForDpi where Windows has it, else the screen's.
HFONT CreateMessageFont(int dpi) {
  using ForDpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto forDpi = reinterpret_cast<ForDpiFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  const BOOL found = forDpi != nullptr ? forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                                static_cast<UINT>(dpi))
                                       : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  return found ? CreateFontIndirectW(&metrics.lfMessageFont) : nullptr;
}

// Gives the controls the message font for the window's DPI, and lets the
// one it replaces go.
void ApplyMessageFont() {
  HFONT font = CreateMessageFont(windowDpi);
  if (font == nullptr) return;  // the controls keep the font they have
  for (HWND control : {startButton, stopButton, deviceButton, statusLabel, levelPanel, spectrumPanel}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (messageFont != nullptr) DeleteObject(messageFont);
  messageFont = font;
}

std::wstring AskSavePath(HWND owner) {
  wchar_t buffer[260] = L"output.wav";
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = L"WAV files\0*.wav\0All files\0*.*\0";
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = buffer;
  dialog.nMaxFile = 260;
  dialog.Flags = OFN_OVERWRITEPROMPT;
  if (!GetSaveFileNameW(&dialog)) return {};
  return buffer;
}

void SetStatusText(const std::wstring& text) { SetWindowTextW(statusLabel, text.c_str()); }

class MainWindowOps final : public WindowOps {
 public:
  explicit MainWindowOps(HWND handle) : window(handle) {}

  std::wstring AskSavePath() override { return ::AskSavePath(window); }
  void SetStatusText(const std::wstring& text) override { ::SetStatusText(text); }
  bool FitsStatusLine(const std::wstring& text) override {
    RECT area{};
    GetClientRect(statusLabel, &area);
    HDC dc = GetDC(statusLabel);
    if (dc == nullptr) return true;
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(statusLabel, WM_GETFONT, 0, 0)));
    SIZE size{};
    const BOOL measured = GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(statusLabel, dc);
    return !measured || size.cx <= area.right - area.left;
  }
  void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override {
    MessageBoxW(window, text.c_str(), caption.c_str(), MB_ICONERROR);
  }
  void ShowNotice(const std::wstring& text) override {
    MessageBoxW(window, text.c_str(), L"Vellora", MB_ICONINFORMATION);
  }
  Answer AskYesNo(const std::wstring& question, bool noIsDefault) override {
    const UINT style = MB_YESNO | MB_ICONWARNING | (noIsDefault ? MB_DEFBUTTON2 : MB_DEFBUTTON1);
    switch (MessageBoxW(window, question.c_str(), L"Vellora", style)) {
      case IDYES: return Answer::Yes;
      case IDNO: return Answer::No;
      default: return Answer::NoAnswer;  // 0: the box could not be shown
    }
  }
  void BlockShutdown(const std::wstring& reason) override { ShutdownBlockReasonCreate(window, reason.c_str()); }
  void AllowShutdown() override { ShutdownBlockReasonDestroy(window); }
  void FocusButton(unsigned id) override {
    focusedControl = id == ID_STOP ? stopButton : startButton;
    if (GetActiveWindow() == window) SetFocus(focusedControl);
  }
  void DisableButtons() override {
    for (HWND button : {startButton, stopButton, deviceButton}) EnableWindow(button, FALSE);
  }
  void EnableButtons() override {
    for (HWND button : {startButton, stopButton, deviceButton}) EnableWindow(button, TRUE);
  }
  void InvalidatePanels() override {
    InvalidateRect(waveformPanel, nullptr, TRUE);
    InvalidateRect(levelPanel, nullptr, TRUE);
    InvalidateRect(spectrumPanel, nullptr, TRUE);
  }
  void DestroyMainWindow() override { DestroyWindow(window); }
  void PostQuit() override { PostQuitMessage(0); }
  std::wstring KnownFolder(Folder which) override {
    PWSTR folder = nullptr;
    std::wstring path;
    const KNOWNFOLDERID& id = which == Folder::Documents ? FOLDERID_Documents : FOLDERID_LocalAppData;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &folder))) path = folder;
    CoTaskMemFree(folder);
    return path;
  }
  std::wstring ReadSetting(const std::wstring& name) override {
    wchar_t value[1024] = L"";
    DWORD bytes = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, name.c_str(), RRF_RT_REG_SZ, nullptr, value, &bytes) !=
        ERROR_SUCCESS) {
      return {};
    }
    return value;
  }
  void WriteSetting(const std::wstring& name, const std::wstring& value) override {
    RegSetKeyValueW(HKEY_CURRENT_USER, SETTINGS_KEY, name.c_str(), REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  std::vector<std::pair<std::wstring, std::wstring>> ReadSettingsIn(const std::wstring& key) override {
    std::vector<std::pair<std::wstring, std::wstring>> settings;
    HKEY folder = nullptr;
    const std::wstring path = std::wstring(SETTINGS_KEY) + L"\\" + key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &folder) != ERROR_SUCCESS) return settings;
    for (DWORD index = 0;; ++index) {
      wchar_t name[1024], value[4096];
      DWORD nameLength = static_cast<DWORD>(std::size(name)), bytes = sizeof value - sizeof(wchar_t), type = 0;
      const LSTATUS status = RegEnumValueW(folder, index, name, &nameLength, nullptr, &type,
                                           reinterpret_cast<BYTE*>(value), &bytes);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS || type != REG_SZ) continue;
      value[bytes / sizeof(wchar_t)] = L'\0';
      settings.emplace_back(name, value);
    }
    RegCloseKey(folder);
    std::sort(settings.begin(), settings.end());
    return settings;
  }
  void WriteSettingIn(const std::wstring& key, const std::wstring& name, const std::wstring& value) override {
    const std::wstring path = std::wstring(SETTINGS_KEY) + L"\\" + key;
    if (value.empty()) {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str());
    } else {
      RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), REG_SZ, value.c_str(),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
  }
  std::vector<RecordingDevice> ActiveRecordingDevices() override { return ListRecordingDevices(); }
  int ShowDeviceMenu(const std::vector<DeviceMenuItem>& items) override {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
      // A name's "&" is not a mnemonic.
      std::wstring text;
      for (wchar_t c : items[i].text) text += c == L'&' ? L"&&" : std::wstring(1, c);
      AppendMenuW(menu, MF_STRING | (items[i].checked ? MF_CHECKED : 0u) | (items[i].enabled ? 0u : MF_GRAYED),
                  i + 1, text.c_str());
    }
    RECT button;
    GetWindowRect(deviceButton, &button);
    const int picked = static_cast<int>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTALIGN | TPM_TOPALIGN,
                                                       button.right, button.bottom, 0, window, nullptr));
    DestroyMenu(menu);
    return picked - 1;  // 0: nothing picked
  }
  int ShowSpectrumMenu(const std::vector<SpectrumMenuItem>& items, int x, int y) override {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return -1;
    // A submenu belongs to its entry once inserted, and goes with the menu.
    std::vector<HMENU> submenus(items.size(), nullptr);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const int parent = items[i].inSubmenu;
      HMENU into = parent >= 0 && static_cast<std::size_t>(parent) < i ? submenus[static_cast<std::size_t>(parent)] : menu;
      if (into == nullptr) continue;
      if (items[i].separatorBefore) AppendMenuW(into, MF_SEPARATOR, 0, nullptr);
      MENUITEMINFOW item{};
      item.cbSize = sizeof item;
      item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
      item.fType = MFT_STRING | (items[i].radio ? MFT_RADIOCHECK : 0u);
      item.fState = items[i].checked ? MFS_CHECKED : MFS_UNCHECKED;
      item.wID = static_cast<UINT>(i + 1);
      item.dwTypeData = const_cast<wchar_t*>(items[i].text.c_str());
      if (items[i].opensSubmenu) {
        submenus[i] = CreatePopupMenu();
        if (submenus[i] == nullptr) continue;
        item.fMask |= MIIM_SUBMENU;
        item.hSubMenu = submenus[i];
      }
      InsertMenuItemW(into, static_cast<UINT>(GetMenuItemCount(into)), TRUE, &item);
    }
    if (x == -1 && y == -1) {  // from the keyboard: at the panel's corner
      RECT panel;
      GetWindowRect(spectrumPanel, &panel);
      x = panel.left + ScaleToDpi(8, windowDpi);
      y = panel.top + ScaleToDpi(8, windowDpi);
    }
    const int picked = static_cast<int>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, x, y, 0, window, nullptr));
    DestroyMenu(menu);
    return picked - 1;
  }
  void CopySpectrumPicture() override {
    HDC screen = GetDC(window);
    HBITMAP picture = screen != nullptr ? SpectrumPanelPicture(screen) : nullptr;
    if (screen != nullptr) ReleaseDC(window, screen);
    if (picture == nullptr) return;
    // The clipboard owns the bitmap once it has taken it.
    if (OpenClipboard(window)) {
      EmptyClipboard();
      if (SetClipboardData(CF_BITMAP, picture) != nullptr) picture = nullptr;
      CloseClipboard();
    }
    if (picture != nullptr) DeleteObject(picture);
  }
  void CopyText(const std::wstring& text) override {
    // 1. The text into memory the clipboard takes over.
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) return;
    if (void* to = GlobalLock(memory)) {
      std::copy(text.c_str(), text.c_str() + text.size() + 1, static_cast<wchar_t*>(to));
      GlobalUnlock(memory);
    }
    // 2. The clipboard emptied and given it; it is ours to free only if
    // the clipboard did not take it.
    if (OpenClipboard(window)) {
      EmptyClipboard();
      if (SetClipboardData(CF_UNICODETEXT, memory) != nullptr) memory = nullptr;
      CloseClipboard();
    }
    if (memory != nullptr) GlobalFree(memory);
  }

 private:
  HWND window;
};

// The panels' texts for screen readers. A panel answers WM_GETTEXT with
// what it shows now, rather than being given it with SetWindowTextW, which
// would repaint the owner-drawn control each time its text changed.
std::wstring PanelText(HWND panel) {
  return panel == spectrumPanel ? SpectrumPanelText() : CurrentLevelAccessibleText();
}

// UI thread only: each panel's window procedure before it answered for its text.
WNDPROC levelPanelProc = nullptr;
WNDPROC spectrumPanelProc = nullptr;

LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC original = panel == spectrumPanel ? spectrumPanelProc : levelPanelProc;
  if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(PanelText(panel).size());
  if (message == WM_GETTEXT) {
    const std::wstring text = PanelText(panel);
    const auto room = static_cast<std::size_t>(wParam);
    if (room == 0) return 0;
    const std::size_t n = std::min(text.size(), room - 1);
    auto* buffer = reinterpret_cast<wchar_t*>(lParam);
    std::copy_n(text.c_str(), n, buffer);
    buffer[n] = L'\0';
    return static_cast<LRESULT>(n);
  }
  return CallWindowProcW(original, panel, message, wParam, lParam);
}

void AnswerForPanelTexts() {
  levelPanelProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(levelPanel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PanelProc)));
  spectrumPanelProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(spectrumPanel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PanelProc)));
}

// Screen readers hear that a panel's text changed a few times a second at
// most, and the spectrum's at once when the mouse moves over it (now).
void UpdatePanelTexts(bool now) {
  static ULONGLONG last = 0;  // UI thread only: when the texts were last told
  static std::wstring told[2];  // UI thread only: the level's and the spectrum's, as told
  const ULONGLONG tick = GetTickCount64();
  if (!now && tick - last < 250) return;
  last = tick;
  const HWND panels[2] = {levelPanel, spectrumPanel};
  for (int i = now ? 1 : 0; i < 2; ++i) {
    std::wstring text = PanelText(panels[i]);
    if (text == told[i]) continue;
    told[i] = std::move(text);
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, panels[i], OBJID_WINDOW, CHILDID_SELF);
  }
}

// The mouse at a point of the window's client area: over the spectrum, its
// point there; elsewhere, none.
void MouseAt(HWND window, std::optional<POINT> at) {
  RECT panel{};
  GetWindowRect(spectrumPanel, &panel);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&panel), 2);
  std::optional<PanelPoint> point;
  if (at && PtInRect(&panel, *at)) point = PanelPoint{at->x - panel.left, at->y - panel.top};
  static std::optional<PanelPoint> shown;  // UI thread only: the point the views were last given
  if (point == shown) return;
  shown = point;
  SetSpectrumCursor(point);
  InvalidateRect(spectrumPanel, nullptr, FALSE);
  UpdatePanelTexts(true);
}

LRESULT DrawPanel(WPARAM id, const DRAWITEMSTRUCT* item) {
  switch (id) {
    case ID_LEVEL: return DrawLevelPanel(item, windowDpi);
    case ID_WAVEFORM: return DrawWaveformPanel(item, windowDpi);
    case ID_SPECTRUM: return DrawSpectrumPanel(item, windowDpi);
    default: return 0;
  }
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MainWindowOps ops(window);
  switch (message) {
    case WM_CREATE:
      windowDpi = WindowDpi(window);
      CreateControls(window);
      AnswerForPanelTexts();
      ApplyMessageFont();
      mainWindow = ToWindowHandle(window);
      return 0;
    case WM_COMMAND:
      OnCommand(ops, LOWORD(wParam));
      return 0;
    case WM_DPICHANGED: {
      // Dragged to a screen of another DPI: the size Windows suggests for
      // it, every control scaled again, and the font for that DPI.
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      windowDpi = HIWORD(wParam);
      LayoutControls(window);
      ApplyMessageFont();
      return 0;
    }
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED && startButton != nullptr) LayoutControls(window);
      return 0;
    case WM_GETMINMAXINFO: {
      // No smaller than the size it first opens at.
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {ScaleToDpi(FIRST_WINDOW_WIDTH, windowDpi), ScaleToDpi(FIRST_WINDOW_HEIGHT, windowDpi)};
      return 0;
    }
    case WM_ACTIVATE:
      // Where the focus was goes with the window, and comes back with it.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus == startButton || focus == stopButton || focus == deviceButton) focusedControl = focus;
      }
      return 0;
    case WM_SETFOCUS:
      SetFocus(focusedControl != nullptr ? focusedControl : startButton);
      return 0;
    case DM_GETDEFID: {
      // Enter presses the focused button (IsDialogMessage asks for the
      // window's default one), not the control whose id is IDOK.
      HWND focus = GetFocus();
      if (focus != startButton && focus != stopButton && focus != deviceButton) return 0;
      return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
    }
    case WM_UPDATE_VISUALS:
      OnUpdateVisuals(ops);
      UpdatePanelTexts(false);
      return 0;
    case WM_MOUSEMOVE: {
      // The panels let the mouse through to the window.
      const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      TRACKMOUSEEVENT leave{sizeof leave, TME_LEAVE, window, 0};
      TrackMouseEvent(&leave);
      MouseAt(window, at);
      return 0;
    }
    case WM_MOUSELEAVE:
      MouseAt(window, std::nullopt);
      return 0;
    case WM_CONTEXTMENU: {
      // Right-click over the spectrum, or the menu key (Shift+F10) anywhere
      // in the window: (-1, -1).
      const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      RECT panel{};
      GetWindowRect(spectrumPanel, &panel);
      if (at.x == -1 && at.y == -1) {
        OnSpectrumMenu(ops, -1, -1);
      } else if (PtInRect(&panel, at)) {
        OnSpectrumMenu(ops, at.x, at.y);
      } else {
        return DefWindowProcW(window, message, wParam, lParam);
      }
      return 0;
    }
    case WM_RECORDING_STARTED:
      OnRecordingStarted(ops);
      return 0;
    case WM_RECORDING_SAVING:
      OnRecordingSaving(ops);
      return 0;
    case WM_RECORDING_DONE:
      OnRecordingDone(ops);
      return 0;
    case WM_TAKE_SAVED:
      OnTakeSaved(ops);
      return 0;
    case WM_ENDSESSION:
      OnEndSession(ops, wParam != FALSE);
      return 0;
    case WM_CAPTURE_STALLED:
      OnCaptureStalled(ops);
      return 0;
    case WM_WRITE_FAILED:
      OnWriteFailed(ops);
      return 0;
    case WM_CLOSE:
      OnClose(ops);
      return 0;
    case WM_DEVICES_CHANGED:
      OnDevicesChanged(ops);
      return 0;
    case WM_DESTROY:
      RememberPlace(window);
      StopWatchingRecordingDevices();
      OnDestroy(ops);
      return 0;
    case WM_DRAWITEM:
      return DrawPanel(wParam, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // Core Audio on this thread too: the device menu lists the devices, and
  // the window hears when they change.
  const bool comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  // The program's own icon in the title bar, the taskbar and Alt+Tab, at
  // the sizes Windows draws there.
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = L"VelloraApp";
  RegisterClassExW(&windowClass);

  // 400 x 270 at 96 DPI, scaled to the screen's DPI; a window that opens
  // on a screen of another DPI hears so in WM_DPICHANGED.
  const int dpi = WindowDpi(nullptr);
  // The panels draw the whole of themselves: the window's background is
  // not painted under them first (no flicker while resizing).
  HWND window = CreateWindowExW(0, L"VelloraApp", L"Vellora", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                CW_USEDEFAULT, ScaleToDpi(FIRST_WINDOW_WIDTH, dpi),
                                ScaleToDpi(FIRST_WINDOW_HEIGHT, dpi), nullptr, nullptr, instance, nullptr);
  mainWindow = ToWindowHandle(window);
  ShowInRememberedPlace(window, showCommand);
  // On the screen and painted before anything asks Windows' audio service,
  // which may be slow to answer while a session starts; what OnStartup
  // says may come in a box owned by the window.
  UpdateWindow(window);
  if (window != nullptr) {
    WatchRecordingDevices(window);
    MainWindowOps ops(window);
    OnStartup(ops);
  }

  // GetMessageW returns -1 on an error; that must end the loop, not spin it.
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // The keyboard as in a dialog: Tab, Space and Enter on the buttons. Not
    // Escape or Ctrl+Break: IsDialogMessage makes them a click on the
    // control with IDCANCEL's id, which is Stop's, and a stray key would end
    // the take. Here they are keys that no control takes.
    const bool cancelKey = (message.message == WM_KEYDOWN || message.message == WM_KEYUP) &&
                           (message.wParam == VK_ESCAPE || message.wParam == VK_CANCEL);
    if (!cancelKey && IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (messageFont != nullptr) DeleteObject(messageFont);
  if (comReady) CoUninitialize();
  return 0;
}
