// "Setup.exe": the product's outer setup program. Starts the launcher from
// its own folder as its caller, waits for it and ends with its exit code.
#include <windows.h>

#include "framework/BoundedText.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ERROR_BAD_PATHNAME;
    wchar_t* name = path;
    for (wchar_t* p = path; *p; ++p)
        if (*p == L'\\') name = p + 1;
    *name = L'\0';
    if (!qx::BoundedAppend(path, MAX_PATH, L"QXVSetup64.exe")) return ERROR_BAD_PATHNAME;

    wchar_t commandLine[MAX_PATH + 32];
    if (qx::BoundedFormat(commandLine, MAX_PATH + 32, L"\"%s\" CALLER=SETUP", path) < 0)
        return ERROR_BAD_PATHNAME;

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return static_cast<int>(GetLastError());
    CloseHandle(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
