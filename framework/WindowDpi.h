#pragma once
// The scale a window is drawn at.
#include <windows.h>

namespace qx {

// Dots per inch of window's drawing, 96 at 100 %: its monitor's for a
// per-monitor aware program (GetDpiForWindow, Windows 10 1607 and later,
// bound by name), the system's otherwise. Nothing is loaded for it.
UINT WindowDpi(HWND window);

}  // namespace qx
