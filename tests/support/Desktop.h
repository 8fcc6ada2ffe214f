#pragma once
// What a test sees of the windows on the desktop: finding them, reading
// their texts, answering them, and waiting for a program's end while
// answering what it shows.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace qxtest {

// Top-level window of a class and caption in any process, waited for.
HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* caption, DWORD timeoutMs);
// A top-level window of the given process (of any class when null).
HWND FindProcessWindow(DWORD processId, const wchar_t* windowClass);
// Waits for the process to end, looking for a visible window of its own
// every few milliseconds meanwhile. False when it did not end in time;
// sawWindow tells whether any window of it was ever visible.
bool WaitWatchingWindows(Process& process, DWORD timeoutMs, bool& sawWindow);
std::wstring ControlText(HWND dialog, int id);
// A visible message box of the process with that caption, once its text is
// in; null when the process ended first or none came in time.
HWND WaitForBoxOf(Process& process, const std::wstring& caption, DWORD timeoutMs = 60000);
// Clicks a button of a dialog until the dialog is gone: a dialog found the
// moment it is created may not act on the first click yet.
bool PressUntilGone(HWND dialog, int buttonId, DWORD timeoutMs = 20000);

// A top-level window of some process.
struct ShownWindow {
    HWND window;
    DWORD processId;
    std::wstring windowClass;
    std::wstring caption;
};
std::vector<ShownWindow> TopLevelWindows(DWORD processId = 0);   // 0: of every process
// A window's text, read without hanging on a hung window.
std::wstring WindowText(HWND window);

// What a window or the screen shows, one 0x00RRGGBB value a pixel, row by
// row: a window's client area read through its own device context, or an
// area of the screen.
struct Pixels {
    int width = 0, height = 0;
    std::vector<DWORD> data;
};
Pixels Capture(HWND window);
std::vector<DWORD> Capture(const RECT& screenArea);
// A window as the screen shows it, frame included, saved as a 24-bit BMP
// file once it is drawn; false when it could not be.
bool SaveScreenshot(HWND window, const std::wstring& bmpPath);

// What a launcher showed and how it ended.
struct Outcome {
    bool ended = false;        // within the time allowed
    bool crashed = false;      // an unhandled exception or the system's crash dialog
    DWORD exitCode = 0;
    std::vector<std::wstring> messages;      // texts of the message boxes it showed
    std::vector<std::wstring> discPrompts;   // the path field of each disc prompt it showed
    std::string crashText;                   // what the debugger wrote, when it crashed
};

// Waits for child to end, pressing OK on its message boxes (the launcher's
// or the Pad's) and Cancel on its disc prompts (or, with discAnswer, typing
// that folder into them and pressing OK), and dismissing the system's
// crash dialog (which counts as a crash). outputFile is the StartOptions' one, read for a debugger's report.
Outcome WaitForEnd(Process& child, DWORD timeoutMs, const std::wstring& outputFile = L"",
                   const std::wstring& discAnswer = L"");

}  // namespace qxtest
