#pragma once
// The hourglass thread: an animation control over the setup dialog's client
// area, playing the launcher's clip, with the thread's own message loop.
#include <windows.h>

class CWnd;

// Messages the thread acts on, posted to the thread or to its control.
constexpr UINT kWaitUIStop = WM_USER + 1;           // orderly stop
constexpr UINT kWaitUIPlayEndless = WM_USER + 2;    // all frames, repeated
constexpr UINT kWaitUIShowFirst = WM_USER + 3;      // first frame, then repaint
constexpr UINT kWaitUIShowLast = WM_USER + 4;       // last frame, then repaint

// Thread procedure; param is the dialog (a CWnd*). The clip comes from the
// executable. Returns 1 after an orderly stop (WM_QUIT or kWaitUIStop), 0
// when the control cannot be created, the clip cannot be opened or a play
// request is refused.
UINT WaitUIThreadProc(LPVOID param);

// The same with the clip taken from clipModule.
UINT RunWaitUI(CWnd* dialog, HINSTANCE clipModule);
