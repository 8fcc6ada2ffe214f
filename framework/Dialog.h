#pragma once
// A modal dialog from a template of the application's resources, with its
// messages dispatched to virtual handlers.
#include <windows.h>

#include "framework/Wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_nIDTemplate(templateId), m_pParent(parent) {}

    // Runs the dialog until EndDialog; returns its result (-1 when the
    // template cannot be loaded).
    virtual INT_PTR DoModal();
    void EndDialog(INT_PTR result);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // A message other than WM_INITDIALOG. Return true when handled, with the
    // message's result in result; false hands it to the default processing.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // The command handlers of the two standard buttons.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    UINT m_nIDTemplate;
    CWnd* m_pParent;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
