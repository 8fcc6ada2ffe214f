#pragma once
// The common-controls animation control ("SysAnimate32"). The window belongs
// to the thread that creates it; destroying the wrapper destroys the window.
#include <windows.h>

#include "framework/Wnd.h"

class CAnimateCtrl : public CWnd {
public:
    CAnimateCtrl() = default;
    ~CAnimateCtrl() override;

    // A child of parent filling rect (parent's client coordinates). False
    // when there is no parent window or the system refuses the window.
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
    // Opens clip resource id ("AVI" type) of module instance.
    BOOL Open(HINSTANCE instance, UINT resourceId);
    // Frames from..to (0xFFFF: the last), repeat times (-1: endless).
    BOOL Play(UINT from, UINT to, UINT repeat);
    BOOL Stop();
    // Closes the clip; the window stays.
    BOOL Close();
    BOOL DestroyWindow();
};
