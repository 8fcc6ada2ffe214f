#pragma once
// The hourglass thread: an animation control over the setup dialog's client
// area, playing the launcher's clip, with the thread's own message loop.
#include <windows.h>

#include "framework/WindowDpi.h"

class CWnd;

// Messages the thread acts on, posted to the thread or to its control.
constexpr UINT kWaitUIStop = WM_USER + 1;           // orderly stop
constexpr UINT kWaitUIPlayEndless = WM_USER + 2;    // all frames, repeated
constexpr UINT kWaitUIShowFirst = WM_USER + 3;      // first frame, then repaint
constexpr UINT kWaitUIShowLast = WM_USER + 4;       // last frame, then repaint
constexpr UINT kWaitUIFitToScale = WM_USER + 5;     // the dialog's scale or size changed: fit the control and clip

// Thread procedure; param is the dialog (a CWnd*). The clip comes from the
// executable. Returns 1 after an orderly stop (WM_QUIT or kWaitUIStop), 0
// when the control cannot be created, the clip cannot be opened or a play
// request is refused.
UINT WaitUIThreadProc(LPVOID param);

// The same with the clip taken from clipModule and the dialog's scale from
// dpiOf (dots per inch, 96 at 100 %).
UINT RunWaitUI(CWnd* dialog, HINSTANCE clipModule, UINT (*dpiOf)(HWND) = qx::WindowDpi);

// The clip for a scale: an animation control shows a clip at its own size,
// so there is one for 100 % and one for 150 % and more, and a scale gets
// the largest that is not larger than its own.
UINT HourglassClipFor(UINT dpi);

// What the popup does when its scale changes (moved to another monitor, or
// the monitor's scale changed): it takes the rectangle Windows suggests,
// then the hourglass thread fits its control and clip to it.
void FollowScaleChange(HWND dialog, const RECT& suggested, DWORD hourglassThread);
