#pragma once
// Loading DLLs at run time without letting any folder but the intended one
// supply them. A DLL that Windows does not always take from its system
// folder (msi.dll, version.dll: not on its KnownDLLs list) is never imported
// at load time: the load-time search starts in the program's own folder,
// which may be a download folder holding anything.
#include <windows.h>

#include "framework/BoundedText.h"

namespace qx {

// name (a bare file name such as L"msi.dll") from the system folder only,
// or null with the last error set. Loaded by its full path, so that what
// it imports in turn is searched from the system folder too (Wine resolves
// the imports of a DLL loaded by bare name with the search flags from the
// program's folder first). Windows 7 without its DLL-search update does not
// know the search flags and refuses the call; the same full path is then
// loaded with the search starting in its own folder.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !BoundedAppend(path, MAX_PATH, L"\\") || !BoundedAppend(path, MAX_PATH, name)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Why a load failed, as an error no caller can take for a missing file of
// its own (a package, say): a missing DLL, or a failure that set no error,
// is ERROR_MOD_NOT_FOUND.
inline DWORD LoadFailure(DWORD error) {
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? ERROR_MOD_NOT_FOUND : error;
}

// A module of the product by its full path; what it imports comes from the
// system folder only, never from its own folder, the current folder or PATH.
// The same fallback as above for a system without the search flags.
inline HMODULE LoadModuleByFullPath(const wchar_t* path) {
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A function of a module bound at run time, by name or by ordinal
// (MAKEINTRESOURCEA). Null when the module or the export is missing.
template <typename Fn>
Fn BindProc(HMODULE module, const char* nameOrOrdinal) {
    if (!module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, nameOrOrdinal)));
}

}  // namespace qx
