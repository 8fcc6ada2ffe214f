#pragma once
// The application object: one per process, constructed at program load,
// started by the program entry with InitInstance.
#include <windows.h>

class CWnd;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The start-up operation. True runs the message loop (which ends at once
    // when there is no main window), false ends the application.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    virtual int Run();

    // The one application object of the process, or null.
    static CWinApp* Current();

    // Set by the program entry before InitInstance runs.
    HINSTANCE m_hInstance = nullptr;
    const wchar_t* m_lpCmdLine = L"";           // the argument tail
    wchar_t m_szAppName[MAX_PATH] = {};         // executable name without extension
    CWnd* m_pMainWnd = nullptr;

    // Fills m_hInstance, m_szAppName and m_lpCmdLine from the process.
    void InitFromProcess(HINSTANCE instance, const wchar_t* commandLine);
};
