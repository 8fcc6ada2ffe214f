#include "tests/support/Desktop.h"

#include <map>

#include "tests/support/Files.h"
#include "tests/support/Product.h"
#include "tests/support/Waits.h"

namespace qxtest {

namespace {

// The top-level windows of a process (of every process for 0), without
// asking them anything.
std::vector<HWND> WindowsOf(DWORD processId) {
    struct Wanted {
        DWORD processId;
        std::vector<HWND> found;
    } wanted{processId, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* w = reinterpret_cast<Wanted*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (!w->processId || owner == w->processId) w->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&wanted));
    return wanted.found;
}

std::wstring ClassOf(HWND window) {
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    return cls;
}

// The pixels of area (in the device context's coordinates) of source.
Pixels CaptureFrom(HDC source, const RECT& area) {
    Pixels p;
    p.width = area.right - area.left;
    p.height = area.bottom - area.top;
    if (p.width <= 0 || p.height <= 0) return p;
    p.data.resize(static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, p.width, p.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, p.width, p.height, source, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info = {sizeof info, p.width, -p.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(p.height), p.data.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return p;
}

}  // namespace

Pixels Capture(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    const Pixels p = CaptureFrom(dc, client);
    ReleaseDC(window, dc);
    return p;
}

std::vector<DWORD> Capture(const RECT& screenArea) {
    HDC screen = GetDC(nullptr);
    const Pixels p = CaptureFrom(screen, screenArea);
    ReleaseDC(nullptr, screen);
    return p.data;
}

bool SaveScreenshot(HWND window, const std::wstring& bmpPath) {
    RECT area = {};
    if (!GetWindowRect(window, &area)) return false;
    const LONG width = area.right - area.left, height = area.bottom - area.top;
    std::vector<DWORD> pixels;
    // Drawn once it shows more than its background and frame.
    const bool drawn = WaitUntil(
        [&] {
            pixels = Capture(area);
            std::map<DWORD, size_t> colours;
            for (DWORD p : pixels) ++colours[p];
            return colours.size() > 8;
        },
        10000, 100);
    if (!drawn || width <= 0 || height <= 0) return false;
    // Rows bottom up, each padded to four bytes.
    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::string bytes(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + rowBytes * height, '\0');
    auto* file = reinterpret_cast<BITMAPFILEHEADER*>(bytes.data());
    auto* info = reinterpret_cast<BITMAPINFOHEADER*>(bytes.data() + sizeof(BITMAPFILEHEADER));
    file->bfType = 0x4D42;   // "BM"
    file->bfSize = static_cast<DWORD>(bytes.size());
    file->bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    *info = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    for (LONG y = 0; y < height; ++y) {
        char* row = bytes.data() + file->bfOffBits + rowBytes * static_cast<DWORD>(height - 1 - y);
        for (LONG x = 0; x < width; ++x) {
            const DWORD p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
            row[x * 3] = static_cast<char>(p & 0xFF);
            row[x * 3 + 1] = static_cast<char>((p >> 8) & 0xFF);
            row[x * 3 + 2] = static_cast<char>((p >> 16) & 0xFF);
        }
    }
    return PutFile(bmpPath, bytes);
}

HWND WaitForBoxOf(Process& process, const std::wstring& caption, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            for (HWND w : VisibleWindowsOf(process.Id(), L"#32770"))
                if (WindowText(w) == caption && !ControlText(w, 0xFFFF).empty()) box = w;
            return box != nullptr || process.Ended();
        },
        timeoutMs);
    return box;
}

HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* caption, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND w = FindWindowW(windowClass, caption)) return w;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(100);
    }
}

HWND FindProcessWindow(DWORD processId, const wchar_t* windowClass) {
    for (HWND w : WindowsOf(processId))
        if (!windowClass || ClassOf(w) == windowClass) return w;
    return nullptr;
}

bool WaitWatchingWindows(Process& process, DWORD timeoutMs, bool& sawWindow) {
    sawWindow = false;
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        for (HWND w : WindowsOf(process.Id())) sawWindow = sawWindow || IsWindowVisible(w);
        if (process.Wait(5)) return true;
    }
    return false;
}

std::wstring ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return L"";
    const int n = static_cast<int>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(control, WM_GETTEXT, static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(n));
    return text;
}

bool PressUntilGone(HWND dialog, int buttonId, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(dialog)) {
        if (GetTickCount() - start > timeoutMs) return false;
        if (HWND button = GetDlgItem(dialog, buttonId)) PostMessageW(button, BM_CLICK, 0, 0);
        for (int i = 0; i < 10 && IsWindow(dialog); ++i) Sleep(100);
    }
    return true;
}

std::vector<ShownWindow> TopLevelWindows(DWORD processId) {
    std::vector<ShownWindow> windows;
    for (HWND w : WindowsOf(processId)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        windows.push_back({w, owner, ClassOf(w), WindowText(w)});
    }
    return windows;
}

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    // Not GetWindowText: a hung window must not hang the driver.
    DWORD_PTR n = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000, &n);
    return text;
}

Outcome WaitForEnd(Process& child, DWORD timeoutMs, const std::wstring& outputFile, const std::wstring& discAnswer) {
    Outcome outcome;
    struct Seen {
        DWORD firstSeen;
        DWORD lastPress;
        bool recorded;
    };
    std::map<HWND, Seen> seen;
    const DWORD start = GetTickCount();
    while (!child.Ended()) {
        if (GetTickCount() - start > timeoutMs) break;
        const DWORD now = GetTickCount();
        for (const ShownWindow& w : TopLevelWindows(child.Id())) {
            if (w.windowClass != L"#32770" || !IsWindowVisible(w.window)) continue;
            const bool box = w.caption == kLauncherCaption || w.caption == kPadCaption;
            const bool prompt = w.caption == kDiscPromptCaption;
            if (!box && !prompt) continue;
            auto it = seen.find(w.window);
            if (it == seen.end()) it = seen.emplace(w.window, Seen{now, 0, false}).first;
            // A fresh dialog is read and answered once its set-up has put its
            // text in (or, for one that never shows any, after a while).
            const bool filled = !ControlText(w.window, box ? 0xFFFF : 506).empty();
            if (!filled && now - it->second.firstSeen < 2000) continue;
            if (!it->second.recorded) {
                if (box) outcome.messages.push_back(ControlText(w.window, 0xFFFF));
                if (prompt) outcome.discPrompts.push_back(ControlText(w.window, 506));
                it->second.recorded = true;
            }
            if (now - it->second.lastPress < 1000) continue;
            it->second.lastPress = now;
            if (box) PostMessageW(w.window, WM_COMMAND, IDOK, 0);
            if (prompt && discAnswer.empty()) {
                if (HWND cancel = GetDlgItem(w.window, IDCANCEL)) PostMessageW(cancel, BM_CLICK, 0, 0);
            } else if (prompt) {
                DWORD_PTR set = 0;
                SendMessageTimeoutW(GetDlgItem(w.window, 506), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(discAnswer.c_str()),
                                    SMTO_ABORTIFHUNG, 1000, &set);
                if (HWND ok = GetDlgItem(w.window, IDOK)) PostMessageW(ok, BM_CLICK, 0, 0);
            }
        }
        // The system's crash dialog belongs to the debugger, not to the child.
        if (HWND crash = FindWindowW(nullptr, L"Program Error")) {
            outcome.crashed = true;
            PostMessageW(crash, WM_CLOSE, 0, 0);
        }
        Sleep(50);
    }
    outcome.ended = child.Ended();
    if (!outcome.ended) child.Kill();
    outcome.exitCode = child.ExitCode();
    if (outcome.ended && outcome.exitCode >= 0xC0000000u) outcome.crashed = true;
    if (!outputFile.empty()) {
        const std::string output = ReadBytes(outputFile);
        if (output.find("Unhandled exception") != std::string::npos ||
            output.find("Unhandled page fault") != std::string::npos || output.find("winedbg") != std::string::npos) {
            outcome.crashed = true;
            outcome.crashText = output.substr(0, 2000);
        }
    }
    return outcome;
}

}  // namespace qxtest
