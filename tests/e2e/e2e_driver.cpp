// VelloraDriver.exe: a test-only console program that the end-to-end tests
// run under the same Wine as Vellora.exe. It finds the main window by its
// class and title and acts on it as a user would: clicks buttons, fills the
// Save As dialog, reads the status line, answers the error box, closes the
// window. It changes nothing in the program it drives.
//
//   VelloraDriver find                  exit 0 once the main window exists
//   VelloraDriver click start|stop      press a button
//   VelloraDriver save-as PATH          type PATH into the Save As dialog and press Save
//   VelloraDriver save-as-close PATH    the same, then at once ask the main window to close,
//                                       so that WM_CLOSE waits right behind the dialog's OK
//   VelloraDriver cancel-dialog         press Cancel in the Save As dialog
//   VelloraDriver wait-dialog           exit 0 once the Save As dialog is on the screen
//   VelloraDriver status                print the status line (UTF-8)
//   VelloraDriver rect client|start|stop|device|status|level|waveform|spectrum|menu
//                                       print "left top right bottom" in screen pixels (menu: once open)
//   VelloraDriver buttons               print "start stop" enabled states as 1/0
//   VelloraDriver focus                 print the control with the keyboard focus: start, stop, device or other
//   VelloraDriver error-box [TITLE]     print the text of an "Error" (or TITLE) box and press OK
//   VelloraDriver measure TEXT          print "LABEL WIDTH", then TEXT as the status line would show
//                                       it, both in pixels of the status line's font
//   VelloraDriver answer yes|no         print the text of a "Vellora" question box and answer it
//   VelloraDriver close                 ask the main window to close (WM_CLOSE)
//
// It exits with 0 when done and with 2, after saying why, when it could not
// do it; any other exit code comes from Wine, not from this program.
#include <windows.h>

#include <algorithm>
#include <iterator>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr int WAIT_MS = 10000;

HWND FindMainWindow() { return FindWindowW(L"VelloraApp", L"Vellora"); }


// Polls for a visible top-level window of this class and title.
HWND WaitForWindow(const wchar_t* className, const wchar_t* title) {
  for (int waited = 0; waited < WAIT_MS; waited += 50) {
    HWND window = FindWindowW(className, title);
    if (window && IsWindowVisible(window)) return window;
    Sleep(50);
  }
  return nullptr;
}

// Polls for a top-level dialog of this title that belongs to the program.
HWND WaitForDialog(const wchar_t* title) { return WaitForWindow(L"#32770", title); }

void PrintUtf8(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  utf8 += '\n';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
            nullptr);
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[1024] = L"";
  GetWindowTextW(window, buffer, 1024);
  return buffer;
}

int ControlId(const std::wstring& name) {
  if (name == L"start") return 1;
  if (name == L"stop") return 2;
  if (name == L"status") return 0;
  if (name == L"level") return 3;
  if (name == L"waveform") return 4;
  if (name == L"spectrum") return 5;
  if (name == L"device") return 6;
  return -1;
}

// The file name field of the Save As dialog: the combo box cmb13, or the
// edit control edt1 in the older layout.
HWND FileNameField(HWND dialog) {
  HWND field = GetDlgItem(dialog, 0x47C);
  return field ? field : GetDlgItem(dialog, 0x480);
}

int Fail(const char* message) {
  std::fprintf(stderr, "VelloraDriver: %s\n", message);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Fail("no command");
  const std::wstring command = argv[1];
  const std::wstring argument = argc > 2 ? argv[2] : L"";

  HWND main = FindMainWindow();
  if (command == L"find") {
    for (int waited = 0; !main && waited < WAIT_MS; waited += 50) {
      Sleep(50);
      main = FindMainWindow();
    }
    return main ? 0 : Fail("no window of class VelloraApp titled Vellora");
  }
  if (!main) return Fail("the main window is not there");

  if (command == L"click") {
    HWND button = GetDlgItem(main, ControlId(argument));
    if (!button) return Fail("no such button");
    // Posted, as a click would be: Start opens a modal dialog.
    PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == L"wait-dialog") {
    return WaitForDialog(L"Save As") ? 0 : Fail("no Save As dialog");
  }
  if (command == L"save-as" || command == L"save-as-close" || command == L"cancel-dialog") {
    HWND dialog = WaitForDialog(L"Save As");
    if (!dialog) return Fail("no Save As dialog");
    if (command == L"cancel-dialog") {
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return 0;
    }
    // The dialog may still be filling itself in when it becomes visible and
    // then ignores Save; type the name and press Save again until it closes.
    // A close queued behind an OK that the dialog ignored would reach the
    // window inside the dialog's loop: give the dialog time to settle first.
    const bool thenClose = command == L"save-as-close";
    if (thenClose) Sleep(1500);
    for (int attempt = 0; attempt < 10; ++attempt) {
      Sleep(300);
      HWND field = FileNameField(dialog);
      if (!field) return Fail("no file name field");
      SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argument.c_str()));
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
      if (thenClose) {
        PostMessageW(main, WM_CLOSE, 0, 0);
        return 0;
      }
      for (int waited = 0; waited < 1500; waited += 50) {
        if (!IsWindow(dialog) || !IsWindowVisible(dialog)) return 0;
        Sleep(50);
      }
    }
    return Fail("the Save As dialog stayed open");
  }
  if (command == L"status") {
    PrintUtf8(TextOf(GetDlgItem(main, 0)));
    return 0;
  }
  // A panel's text as a screen reader reads it: WM_GETTEXT sent to it
  // (GetWindowTextW would read another process's window's stored text).
  if (command == L"text") {
    const int id = ControlId(argument);
    if (id <= 0) return Fail("no such control");
    wchar_t buffer[1024] = L"";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(GetDlgItem(main, id), WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &length)) {
      return Fail("the panel did not answer for its text");
    }
    PrintUtf8(buffer);
    return 0;
  }
  // The clipboard's text: its first line and how many lines it has.
  if (command == L"clipboard") {
    if (!OpenClipboard(nullptr)) return Fail("the clipboard cannot be opened");
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
        text = chars;
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), L'\n'));
    PrintUtf8(std::to_wstring(lines) + L" " + text.substr(0, text.find(L'\r')));
    return 0;
  }
  // The clipboard's picture: its width and height, and the colour of its middle pixel.
  if (command == L"picture") {
    if (!OpenClipboard(nullptr)) return Fail("the clipboard cannot be opened");
    std::wstring answer = L"none";
    if (auto* picture = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP))) {
      BITMAP info{};
      if (GetObjectW(picture, sizeof info, &info) != 0) {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ previous = SelectObject(dc, picture);
        const COLORREF middle = GetPixel(dc, info.bmWidth / 2, info.bmHeight / 2);
        SelectObject(dc, previous);
        DeleteDC(dc);
        answer = std::to_wstring(info.bmWidth) + L" " + std::to_wstring(info.bmHeight) + L" " +
                 std::to_wstring(GetRValue(middle)) + L" " + std::to_wstring(GetGValue(middle)) + L" " +
                 std::to_wstring(GetBValue(middle));
      }
    }
    CloseClipboard();
    PrintUtf8(answer);
    return 0;
  }
  if (command == L"rect") {
    int id = ControlId(argument);
    HWND control = argument == L"client" || argument == L"window" ? main
                   : argument == L"menu"                          ? WaitForWindow(L"#32768", nullptr)
                                                                  : GetDlgItem(main, id);
    if (argument == L"menu") id = 0;
    if ((id < 0 && control != main) || !control) return Fail("no such control");
    RECT rect;
    if (argument == L"client") {
      GetClientRect(main, &rect);
      MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    } else {
      GetWindowRect(control, &rect);
    }
    PrintUtf8(std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" " +
              std::to_wstring(rect.right) + L" " + std::to_wstring(rect.bottom));
    return 0;
  }
  if (command == L"buttons") {
    PrintUtf8(std::to_wstring(IsWindowEnabled(GetDlgItem(main, 1)) ? 1 : 0) + L" " +
              std::to_wstring(IsWindowEnabled(GetDlgItem(main, 2)) ? 1 : 0));
    return 0;
  }
  if (command == L"focus") {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info)) return Fail("no thread information");
    const int id = info.hwndFocus != nullptr && GetParent(info.hwndFocus) == main ? GetDlgCtrlID(info.hwndFocus) : -1;
    PrintUtf8(id == 1 ? L"start" : id == 2 ? L"stop" : id == 6 ? L"device" : L"other");
    return 0;
  }
  if (command == L"measure") {
    // As the label draws it: one line, a path's folders given up for an
    // ellipsis where it is too long (DrawTextW writes what it shows back).
    HWND label = GetDlgItem(main, 0);
    RECT area;
    GetClientRect(label, &area);
    std::wstring shown = argument + std::wstring(8, L'\0');
    // The label's font is the program's own object, which means nothing in
    // this process: the same font is made here, the system's message font.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HDC memory = CreateCompatibleDC(nullptr);  // like the screen
    HGDIOBJ previous = SelectObject(memory, font);
    DrawTextW(memory, shown.data(), -1, &area,
              DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    shown.resize(std::wcslen(shown.c_str()));
    SIZE extent{};
    GetTextExtentPoint32W(memory, shown.c_str(), static_cast<int>(shown.size()), &extent);
    SelectObject(memory, previous);
    DeleteObject(font);
    DeleteDC(memory);
    PrintUtf8(std::to_wstring(area.right - area.left) + L" " + std::to_wstring(extent.cx));
    PrintUtf8(shown);
    return 0;
  }
  if (command == L"error-box") {
    HWND box = WaitForDialog(argument.empty() ? L"Error" : argument.c_str());
    if (!box) return Fail("no Error box");
    PrintUtf8(TextOf(GetDlgItem(box, 0xFFFF)));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
  }
  if (command == L"answer") {
    HWND box = WaitForDialog(L"Vellora");
    if (!box) return Fail("no question box");
    PrintUtf8(TextOf(GetDlgItem(box, 0xFFFF)));
    const int button = argument == L"yes" ? IDYES : IDNO;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    // Gone before this returns: the next question may come up at once, and
    // must not be mistaken for this one.
    for (int waited = 0; waited < WAIT_MS; waited += 50) {
      if (!IsWindow(box)) return 0;
      Sleep(50);
    }
    return Fail("the question box stayed open");
  }
  if (command == L"close") {
    PostMessageW(main, WM_CLOSE, 0, 0);
    return 0;
  }
  // "window maximize", "window restore", "window W H": as the user's
  // maximise button, restore button or drag of the frame would leave it.
  if (command == L"window") {
    if (argument == L"maximize" || argument == L"restore") {
      ShowWindow(main, argument == L"maximize" ? SW_MAXIMIZE : SW_RESTORE);
    } else {
      const int width = _wtoi(argument.c_str());
      const int height = argc > 3 ? _wtoi(argv[3]) : 0;
      SetWindowPos(main, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return 0;
  }
  return Fail("unknown command");
}
