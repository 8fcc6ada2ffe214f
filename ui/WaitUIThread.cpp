#include "ui/WaitUIThread.h"

#include "diag/Logger.h"
#include "framework/AnimateCtrl.h"
#include "res/resource.h"

namespace {

// WS_CHILD | WS_VISIBLE | ACS_CENTER | ACS_TRANSPARENT | ACS_AUTOPLAY
constexpr DWORD kHourglassStyle = 0x50000007;
// RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW
constexpr UINT kRepaintNow = 0x105;
constexpr UINT kLastFrame = 0xFFFF;
constexpr UINT kRepeatEndless = static_cast<UINT>(-1);

// The clip for the scale, or the 100 % one where that is missing.
bool OpenClipFor(CAnimateCtrl& animate, HINSTANCE clipModule, UINT dpi, UINT& opened) {
    for (const UINT clip : {HourglassClipFor(dpi), static_cast<UINT>(IDR_HOURGLASS_AVI)}) {
        if (animate.Open(clipModule, clip)) {
            opened = clip;
            return true;
        }
    }
    return false;
}

}  // namespace

UINT HourglassClipFor(UINT dpi) {
    if (dpi >= 3 * USER_DEFAULT_SCREEN_DPI / 2) return IDR_HOURGLASS_AVI_150;
    return IDR_HOURGLASS_AVI;
}

void FollowScaleChange(HWND dialog, const RECT& suggested, DWORD hourglassThread) {
    SetWindowPos(dialog, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Once the popup has its new size, which the thread reads.
    if (hourglassThread) PostThreadMessageW(hourglassThread, kWaitUIFitToScale, 0, 0);
}

UINT WaitUIThreadProc(LPVOID param) {
    // The application's resources are the executable's own.
    return RunWaitUI(static_cast<CWnd*>(param), GetModuleHandleW(nullptr));
}

UINT RunWaitUI(CWnd* dialog, HINSTANCE clipModule, UINT (*dpiOf)(HWND)) {
    CAnimateCtrl animate;
    LogTrace(L"Inside Setup's Wait UI Thread");

    const HWND window = dialog ? dialog->m_hWnd : nullptr;
    RECT client = {};
    GetClientRect(window, &client);
    RECT rect;
    CopyRect(&rect, &client);

    if (!animate.Create(kHourglassStyle, rect, dialog, IDC_HOURGLASS)) {
        LogTrace(L"Failed to create Animation Control");
        return 0;
    }
    // With ACS_AUTOPLAY the clip starts, endlessly repeated, once opened;
    // ACS_CENTER keeps it in the middle of the dialog's client area.
    UINT clip = 0;
    if (!OpenClipFor(animate, clipModule, dpiOf(window), clip)) {
        LogTrace(L"Failed to Open AVI Resource");
        animate.DestroyWindow();
        return 0;
    }

    // The control's window belongs to this thread, so messages posted to it
    // arrive here as well as those posted to the thread. GetMessageW gives -1
    // only for bad arguments; that ends the loop like WM_QUIT.
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == kWaitUIStop) break;
        BOOL played = TRUE;
        switch (msg.message) {
        case kWaitUIPlayEndless:
            played = animate.Play(0, kLastFrame, kRepeatEndless);
            break;
        case kWaitUIShowFirst:
            played = animate.Play(0, 0, 0);
            if (played) RedrawWindow(animate.m_hWnd, nullptr, nullptr, kRepaintNow);
            break;
        case kWaitUIShowLast:
            played = animate.Play(kLastFrame, kLastFrame, 0);
            if (played) RedrawWindow(animate.m_hWnd, nullptr, nullptr, kRepaintNow);
            break;
        case kWaitUIFitToScale:
            GetClientRect(window, &client);
            SetWindowPos(animate.m_hWnd, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
            // Opened again even when the clip stays: the control centres a
            // clip only when it opens it.
            played = OpenClipFor(animate, clipModule, dpiOf(window), clip);
            // The control draws only its clip's frame: what a larger one left
            // around it is erased.
            if (played) RedrawWindow(animate.m_hWnd, nullptr, nullptr, kRepaintNow);
            break;
        default:
            break;
        }
        if (!played) {
            animate.DestroyWindow();
            return 0;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    animate.Stop();
    animate.Close();
    animate.DestroyWindow();
    LogTrace(L"Hourglass stopped");
    return 1;
}
