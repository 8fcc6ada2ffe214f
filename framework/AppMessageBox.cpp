#include "framework/AppMessageBox.h"

#include "framework/WinApp.h"

int AppMessageBox(const wchar_t* text, UINT type) {
    CWinApp* app = CWinApp::Current();
    const wchar_t* caption = (app && app->m_szAppName[0]) ? app->m_szAppName : nullptr;
    return MessageBoxW(nullptr, text ? text : L"", caption, type);
}
