// The program entry of a framework application.
#include "framework/DllSearch.h"
#include "framework/WinApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL by its bare name.
    qx::LimitDllSearchToSystemFolder();

    // No critical-error or file-open boxes of the system for this process:
    // a missing disc reaches the program as an error code.
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    CWinApp* app = CWinApp::Current();
    if (!app) return -1;
    app->InitFromProcess(instance, GetCommandLineW());
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}
