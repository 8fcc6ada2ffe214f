// The program entry of a framework application.
#include "framework/WinApp.h"

namespace {

// Modules loaded by bare name come from the program's own folder or the
// system folder only: never from the current folder or PATH, where anyone
// may have planted a DLL of the same name. Looked up at run time, since
// Windows 7 has it only with an update; without it, at least the current
// folder is taken out of the search.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RestrictDllSearch();

    // No critical-error or file-open boxes of the system for this process:
    // a missing disc reaches the program as an error code.
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    CWinApp* app = CWinApp::Current();
    if (!app) return -1;
    app->InitFromProcess(instance, GetCommandLineW());
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}
