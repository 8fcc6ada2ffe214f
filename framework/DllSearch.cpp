#include "framework/DllSearch.h"

#include "framework/BoundedText.h"

namespace qx {

const wchar_t* const kSystemHelperDlls[] = {
    L"uxtheme.dll",  L"userenv.dll", L"setupapi.dll", L"apphelp.dll",  L"propsys.dll", L"dwmapi.dll",
    L"cryptbase.dll", L"oleacc.dll", L"clbcatq.dll",  L"version.dll",  L"winmm.dll",   L"msi.dll",
    L"wintrust.dll", L"crypt32.dll", L"cabinet.dll",
};
const size_t kSystemHelperDllCount = sizeof kSystemHelperDlls / sizeof kSystemHelperDlls[0];

void PreloadSystemHelpers() {
    wchar_t folder[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    for (size_t i = 0; i < kSystemHelperDllCount; ++i) {
        wchar_t path[MAX_PATH] = {};
        if (!BoundedCopy(path, MAX_PATH, folder) || !BoundedAppend(path, MAX_PATH, L"\\") ||
            !BoundedAppend(path, MAX_PATH, kSystemHelperDlls[i]))
            continue;
        // Their own imports are searched from the system folder first.
        LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}

bool LimitDllSearchToSystemFolder() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    SetDllDirectoryW(L"");
    PreloadSystemHelpers();
    return false;
}

}  // namespace qx
