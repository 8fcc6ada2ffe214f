#include "framework/WindowDpi.h"

#include "framework/SystemLibrary.h"

namespace qx {

UINT WindowDpi(HWND window) {
    // user32 and gdi32 are in every program with a window already.
    using DpiForWindow = UINT(WINAPI*)(HWND);
    if (const auto forWindow = BindProc<DpiForWindow>(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")) {
        if (const UINT dpi = forWindow(window)) return dpi;
    }
    using DeviceCaps = int(WINAPI*)(HDC, int);
    const auto caps = BindProc<DeviceCaps>(GetModuleHandleW(L"gdi32.dll"), "GetDeviceCaps");
    HDC dc = caps ? GetDC(window) : nullptr;
    const int dpi = dc ? caps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace qx
