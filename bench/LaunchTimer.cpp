// Starts a program, waits for it to end and reports its process times.
//   bench_launch [--repeat N] <program> [arguments...]
// prints one line a run:
//   created=FILETIME exited=FILETIME wall_us=N exit=N
// created and exited are the process's own times (GetProcessTimes), in the
// same clock as GetSystemTimePreciseAsFileTime; wall_us runs from just
// before CreateProcessW to the end of the wait.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::wstring Quoted(const wchar_t* arg) {
    std::wstring a = arg;
    if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) return a;
    std::wstring out = L"\"";
    for (wchar_t c : a) {
        if (c == L'"') out += L'\\';
        out += c;
    }
    return out + L"\"";
}

unsigned long long Ticks(const FILETIME& ft) {
    return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

int RunOnce(const std::wstring& commandLine) {
    std::wstring mutableLine = commandLine;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("error=CreateProcessW code=%lu\n", GetLastError());
        std::fflush(stdout);
        return 1;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    QueryPerformanceCounter(&after);
    FILETIME created, exited, kernel, user;
    GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const long long wallUs = (after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart;
    std::printf("created=%llu exited=%llu wall_us=%lld exit=%lu\n", Ticks(created), Ticks(exited), wallUs, code);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int first = 1;
    long repeat = 1;
    if (argc > 2 && std::wcscmp(argv[1], L"--repeat") == 0) {
        repeat = std::wcstol(argv[2], nullptr, 10);
        first = 3;
    }
    if (first >= argc || repeat < 1) {
        std::fprintf(stderr, "usage: bench_launch [--repeat N] program [arguments...]\n");
        return 2;
    }
    std::wstring commandLine = Quoted(argv[first]);
    for (int i = first + 1; i < argc; ++i) commandLine += L" " + Quoted(argv[i]);
    int failures = 0;
    for (long run = 0; run < repeat; ++run) failures += RunOnce(commandLine);
    return failures ? 1 : 0;
}
