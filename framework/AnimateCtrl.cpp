#include "framework/AnimateCtrl.h"

#include <commctrl.h>

CAnimateCtrl::~CAnimateCtrl() { DestroyWindow(); }

BOOL CAnimateCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    if (m_hWnd || !parent || !parent->m_hWnd) return FALSE;
    // The class may not be registered yet when the control is the first one
    // of the process; registering twice is harmless.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&classes);
    m_hWnd = CreateWindowExW(0, ANIMATE_CLASSW, nullptr, style, rect.left, rect.top, rect.right - rect.left,
                             rect.bottom - rect.top, parent->m_hWnd,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr),
                             nullptr);
    return m_hWnd != nullptr;
}

BOOL CAnimateCtrl::Open(HINSTANCE instance, UINT resourceId) {
    return static_cast<BOOL>(
        SendMessageW(m_hWnd, ACM_OPENW, reinterpret_cast<WPARAM>(instance),
                     reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(resourceId))));
}

BOOL CAnimateCtrl::Play(UINT from, UINT to, UINT repeat) {
    return static_cast<BOOL>(SendMessageW(m_hWnd, ACM_PLAY, static_cast<WPARAM>(static_cast<int>(repeat)),
                                          MAKELPARAM(from, to)));
}

BOOL CAnimateCtrl::Stop() { return static_cast<BOOL>(SendMessageW(m_hWnd, ACM_STOP, 0, 0)); }

BOOL CAnimateCtrl::Close() { return static_cast<BOOL>(SendMessageW(m_hWnd, ACM_OPENW, 0, 0)); }

BOOL CAnimateCtrl::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    BOOL destroyed = ::DestroyWindow(m_hWnd);
    // Gone either way: a window destroyed with its parent fails here.
    m_hWnd = nullptr;
    return destroyed;
}
