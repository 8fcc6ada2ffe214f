// The package read of the setup dialog's first tick, on its own: msi.dll
// from the system folder, then the UI level, the package opened and its
// three properties read, timed inside the process with
// QueryPerformanceCounter. Prints "load_us=... read_us=... error=...".
//   bench_packageread.exe <package path>
#include <windows.h>

#include <cstdio>
#include <initializer_list>

#include "framework/SystemLibrary.h"

namespace {

using SetInternalUI = UINT(WINAPI*)(UINT, HWND*);
using OpenPackage = UINT(WINAPI*)(LPCWSTR, unsigned long*);
using GetProperty = UINT(WINAPI*)(unsigned long, LPCWSTR, LPWSTR, DWORD*);
using CloseHandleFn = UINT(WINAPI*)(unsigned long);

long long Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const auto us = [&](long long a, long long b) { return (b - a) * 1000000 / frequency.QuadPart; };

    const long long t0 = Now();
    // Kept to the end of the process, as the launcher keeps it.
    HMODULE msi = qx::LoadSystemLibrary(L"msi.dll");
    const auto setUi = qx::BindProc<SetInternalUI>(msi, MAKEINTRESOURCEA(141));
    const auto open = qx::BindProc<OpenPackage>(msi, MAKEINTRESOURCEA(94));
    const auto get = qx::BindProc<GetProperty>(msi, MAKEINTRESOURCEA(74));
    const auto close = qx::BindProc<CloseHandleFn>(msi, MAKEINTRESOURCEA(8));
    if (!setUi || !open || !get || !close) {
        std::printf("error=bind\n");
        return 1;
    }
    const long long t1 = Now();
    setUi(0x102, nullptr);
    unsigned long package = 0;
    UINT result = open(argv[1], &package);
    for (const wchar_t* name : {L"ProductName", L"ProductCode", L"Manufacturer"}) {
        if (result != ERROR_SUCCESS) break;
        wchar_t value[256];
        DWORD length = 256;
        result = get(package, name, value, &length);
    }
    if (package) close(package);
    const long long t2 = Now();
    std::printf("load_us=%lld read_us=%lld error=%u\n", us(t0, t1), us(t1, t2), result);
    return result == ERROR_SUCCESS ? 0 : 1;
}
