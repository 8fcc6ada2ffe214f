// How long ending a modal dialog takes: a dialog of the setup popup's style
// (unowned popup with a border, no caption) ends itself 500 ms after it
// appears, and the time from that moment to DialogBoxIndirectParamW's
// return is printed.
//   bench_dialogend end     EndDialog alone
//   bench_dialogend hide    ShowWindow(SW_HIDE) first, then EndDialog
// prints   hide_ms=N end_ms=N
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr DWORD kPopupStyle = 0x90800808;   // the popup's style without DS_SETFONT
bool g_hideFirst = false;
double g_endStarted = 0;
double g_hideMs = 0;

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetTimer(window, 1, 500, nullptr);
        return TRUE;
    }
    if (message == WM_TIMER) {
        KillTimer(window, 1);
        g_endStarted = NowMs();
        if (g_hideFirst) ShowWindow(window, SW_HIDE);
        g_hideMs = NowMs() - g_endStarted;
        EndDialog(window, IDOK);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_hideFirst = argc > 1 && std::wcscmp(argv[1], L"hide") == 0;
    struct {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } dialog = {};
    dialog.header.style = kPopupStyle;
    dialog.header.cx = 93;
    dialog.header.cy = 80;
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &dialog.header, nullptr, DialogProc, 0);
    std::printf("hide_ms=%.1f end_ms=%.1f\n", g_hideMs, NowMs() - g_endStarted);
    std::fflush(stdout);
    return 0;
}
