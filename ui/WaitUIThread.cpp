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

}  // namespace

UINT WaitUIThreadProc(LPVOID param) {
    // The application's resources are the executable's own.
    return RunWaitUI(static_cast<CWnd*>(param), GetModuleHandleW(nullptr));
}

UINT RunWaitUI(CWnd* dialog, HINSTANCE clipModule) {
    CAnimateCtrl animate;
    LogTrace(L"Inside Setup's Wait UI Thread");

    RECT client = {};
    GetClientRect(dialog ? dialog->m_hWnd : nullptr, &client);
    RECT rect;
    CopyRect(&rect, &client);

    if (!animate.Create(kHourglassStyle, rect, dialog, IDC_HOURGLASS)) {
        LogTrace(L"Failed to create Animation Control");
        return 0;
    }
    // With ACS_AUTOPLAY the clip starts, endlessly repeated, once opened.
    if (!animate.Open(clipModule, IDR_HOURGLASS_AVI)) {
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
