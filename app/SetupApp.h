#pragma once
#include <windows.h>

#include "framework/WinApp.h"

class CSetupApp : public CWinApp {
public:
    CSetupApp();
    ~CSetupApp() override;

    // The start-up sequence. True only after forwarding to the Pad.
    BOOL InitInstance() override;

    wchar_t m_szLogFile[MAX_PATH] = {};   // the installation log's full path
    HMODULE m_hResModule = nullptr;       // "QXVSetupRES64.dll", possibly null
};

extern CSetupApp theApp;
