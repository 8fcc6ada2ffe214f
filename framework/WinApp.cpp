#include "framework/WinApp.h"

#include "framework/BoundedText.h"
#include "framework/CommandLine.h"

namespace {
CWinApp* g_currentApp = nullptr;
}

CWinApp::CWinApp() { g_currentApp = this; }

CWinApp::~CWinApp() {
    if (g_currentApp == this) g_currentApp = nullptr;
}

CWinApp* CWinApp::Current() { return g_currentApp; }

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
    // Without a main window there is nothing to run: quit at once.
    if (!m_pMainWnd) PostQuitMessage(0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return ExitInstance();
}

void CWinApp::InitFromProcess(HINSTANCE instance, const wchar_t* commandLine) {
    m_hInstance = instance;
    m_lpCmdLine = qx::ArgumentTail(commandLine);

    // The application name is the executable's file name without extension.
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) path[MAX_PATH - 1] = L'\0';
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
    qx::BoundedCopy(m_szAppName, MAX_PATH, name);
    wchar_t* dot = nullptr;
    for (wchar_t* p = m_szAppName; *p; ++p)
        if (*p == L'.') dot = p;
    if (dot) *dot = L'\0';
}
