// A second writer of the installation log, linking the real log library.
//   write LOG COUNT TAG RESULT [STARTED [STAY]]
//     writes COUNT records "TAG record K" (K from 0) to LOG through CLogger;
//     sets the event STARTED (when given and not "-") just before the first
//     record; then writes "written=N dropped=M asked=COUNT first_ms=F
//     max_ms=X" to RESULT and stdout, and, when STAY is given, waits for that
//     event (at most 60 s) before it ends, so that whatever it still owns
//     stays owned while the driver looks.
//   hold READY MS
//     takes the logging mutex, sets the event READY, sleeps MS ms and ends
//     without releasing it (the driver usually kills it first).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diag/Logger.h"
#include "res/ProductIdentity.h"

namespace {

HANDLE OpenNamedEvent(const wchar_t* name) {
    if (!name || !*name || std::wstring(name) == L"-") return nullptr;
    return OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
}

int Write(int argc, wchar_t** argv) {
    if (argc < 6) return 2;
    const wchar_t* log = argv[2];
    const long count = std::wcstol(argv[3], nullptr, 10);
    const std::wstring tag = argv[4];
    const wchar_t* result = argv[5];
    HANDLE started = argc > 6 ? OpenNamedEvent(argv[6]) : nullptr;
    HANDLE stay = argc > 7 ? OpenNamedEvent(argv[7]) : nullptr;
    if (count < 0 || (argc > 6 && std::wstring(argv[6]) != L"-" && !started) || (argc > 7 && !stay)) return 3;

    CLogger& logger = CLogger::Instance();
    logger.SetLogFile(log);
    logger.AddLevel(kDefaultLogLevel);

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    long written = 0;
    long dropped = 0;
    double firstMs = -1;
    double maxMs = 0;
    if (started) SetEvent(started);
    for (long k = 0; k < count; ++k) {
        const std::wstring text = tag + L" record " + std::to_wstring(k);
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        const bool ok = logger.Write(text.c_str(), LOGTYPE_TRACE);
        QueryPerformanceCounter(&t1);
        const double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        if (firstMs < 0) firstMs = ms;
        if (ms > maxMs) maxMs = ms;
        (ok ? written : dropped)++;
    }

    char line[160];
    std::snprintf(line, sizeof line, "written=%ld dropped=%ld asked=%ld first_ms=%.0f max_ms=%.0f\n", written,
                  dropped, count, firstMs, maxMs);
    std::fputs(line, stdout);
    std::fflush(stdout);
    HANDLE file = CreateFileW(result, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD n = 0;
        WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &n, nullptr);
        CloseHandle(file);
    }
    if (stay) WaitForSingleObject(stay, 60000);
    return 0;
}

int Hold(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    HANDLE ready = OpenNamedEvent(argv[2]);
    if (!ready) return 3;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kLogMutexName);
    if (!mutex) return 4;
    const DWORD wait = WaitForSingleObject(mutex, 10000);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return 5;
    SetEvent(ready);
    Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
    return 0;   // still the owner: the mutex is abandoned
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wstring(argv[1]) == L"write") return Write(argc, argv);
    if (argc >= 2 && std::wstring(argv[1]) == L"hold") return Hold(argc, argv);
    std::fputs("usage: write LOG COUNT TAG RESULT [STARTED [STAY]] | hold READY MS\n", stderr);
    return 2;
}
