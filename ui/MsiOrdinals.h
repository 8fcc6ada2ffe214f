#pragma once
// The installer calls the launcher makes, bound by ordinal through the
// import library built from msi-ordinals.def. Declared here rather than taken
// from <msi.h>, whose prototypes use other types: do not include both.
#include <windows.h>

typedef unsigned long MSIHANDLE;

// The UI level value: no user interface, source resolution only.
constexpr UINT kMsiUiLevelNoneSourceResOnly = 0x102;

extern "C" {
// Returns the previous level; a null window pointer leaves the owner alone.
__declspec(dllimport) UINT WINAPI MsiSetInternalUI(UINT level, HWND* window);
__declspec(dllimport) UINT WINAPI MsiOpenPackageW(LPCWSTR packagePath, MSIHANDLE* handle);
// length: in, the buffer's capacity in characters; out, the value's length.
__declspec(dllimport) UINT WINAPI MsiGetPropertyW(MSIHANDLE handle, LPCWSTR name, LPWSTR value, DWORD* length);
__declspec(dllimport) UINT WINAPI MsiCloseHandle(MSIHANDLE handle);
}
