// A windowed program that does nothing: what Wine's process start and end
// cost on their own. Its argument tail names a file that receives the time
// the entry point was reached ("entered=FILETIME"). Built twice: bare, and
// importing at load time what the launcher imports (its system DLLs; the
// product's modules are loaded at run time, after their check).
#include <windows.h>

#ifdef QX_BENCH_WITH_LAUNCHER_IMPORTS
#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>
#endif

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
#ifdef QX_BENCH_WITH_LAUNCHER_IMPORTS
    // Never true: the calls only make the loader bring the DLLs in.
    if (commandLine && commandLine[0] == L'\x1') {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        wchar_t path[MAX_PATH] = {};
        SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path);
        PathAppendW(path, L"x");
        RegCloseKey(HKEY_CURRENT_USER);
        MessageBeep(0);
    }
#endif
    if (!commandLine || !commandLine[0]) return 0;
    FILE* out = _wfopen(commandLine, L"a");
    if (!out) return 1;
    std::fprintf(out, "entered=%llu\n",
                 (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    std::fclose(out);
    return 0;
}
