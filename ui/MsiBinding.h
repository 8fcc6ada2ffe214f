#pragma once
// The four installer calls the launcher makes, bound at run time by ordinal
// from the system folder's msi.dll. msi.dll is not on Windows' KnownDLLs
// list: imported at load time, a copy beside the launcher would be taken
// first. Declared here rather than taken from <msi.h>, whose prototypes use
// other types: do not include both.
#include <windows.h>

typedef unsigned long MSIHANDLE;

// The UI level value: no user interface, source resolution only.
constexpr UINT kMsiUiLevelNoneSourceResOnly = 0x102;

struct MsiCalls {
    // Returns the previous level; a null window pointer leaves the owner alone.
    UINT(WINAPI* setInternalUI)(UINT level, HWND* window) = nullptr;
    UINT(WINAPI* openPackage)(LPCWSTR packagePath, MSIHANDLE* handle) = nullptr;
    // length: in, the buffer's capacity in characters; out, the value's length.
    UINT(WINAPI* getProperty)(MSIHANDLE handle, LPCWSTR name, LPWSTR value, DWORD* length) = nullptr;
    UINT(WINAPI* closeHandle)(MSIHANDLE handle) = nullptr;
    // Bound by name where present, needed only by a resume whose source is
    // gone (null otherwise): the installed product's state and information.
    INT(WINAPI* queryProductState)(LPCWSTR product) = nullptr;
    UINT(WINAPI* getProductInfo)(LPCWSTR product, LPCWSTR property, LPWSTR value, DWORD* length) = nullptr;
    // 0 when all four are bound; else why not (never ERROR_FILE_NOT_FOUND,
    // which the caller reads as a missing package).
    DWORD error = ERROR_MOD_NOT_FOUND;
};

// Binds the four calls (ordinals 141, 94, 74, 8) of dll from the system
// folder. The module stays loaded to the end of the process.
MsiCalls BindMsiCalls(const wchar_t* dll = L"msi.dll");

// The process's binding of msi.dll, made on first use. A call made while
// the binding is under way elsewhere waits for it and gets the same one.
const MsiCalls& Msi();

// Closes an installer handle through the process's binding.
void CloseMsiHandle(MSIHANDLE handle);
