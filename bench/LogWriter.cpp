// Writes records into one log file through the launcher's logger, alone or
// as one of several processes at once.
//   bench_logwriter single <log> <records>
//   bench_logwriter fan <log> <records-per-process> <processes>
// "single" prints   written=N dropped=N first=FILETIME last=FILETIME
// "fan" starts the processes (this program again, as "child"), lets them go
// at the same moment, and prints one such line per process. A record counts
// as written when CLogger::Write reports that it reached the file; dropped
// ones are those the bounded wait for the log's mutex (or the file) refused.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "diag/Logger.h"

namespace {

constexpr wchar_t kReadyName[] = L"Local\\qx-bench-log-ready";
constexpr wchar_t kGoName[] = L"Local\\qx-bench-log-go";

unsigned long long Now() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

struct Outcome {
    long written = 0;
    long dropped = 0;
    unsigned long long first = 0;
    unsigned long long last = 0;
};

Outcome WriteRecords(const wchar_t* log, long records) {
    CLogger& logger = CLogger::Instance();
    logger.Reset();
    logger.SetLogFile(log);
    logger.AddLevel(kDefaultLogLevel);
    const DWORD pid = GetCurrentProcessId();
    Outcome outcome;
    outcome.first = Now();
    for (long i = 0; i < records; ++i) {
        wchar_t text[kMaxLogText + 1];
        _snwprintf(text, kMaxLogText, L"Benchmark record %ld of process %lu", i, pid);
        text[kMaxLogText] = L'\0';
        if (logger.Write(text, LOGTYPE_TRACE))
            ++outcome.written;
        else
            ++outcome.dropped;
    }
    outcome.last = Now();
    return outcome;
}

void Print(FILE* out, const Outcome& o) {
    std::fprintf(out, "written=%ld dropped=%ld first=%llu last=%llu\n", o.written, o.dropped, o.first, o.last);
    std::fflush(out);
}

int Child(const wchar_t* log, long records, const wchar_t* resultFile) {
    HANDLE ready = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, kReadyName);
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, kGoName);
    if (!ready || !go) return 3;
    ReleaseSemaphore(ready, 1, nullptr);
    WaitForSingleObject(go, INFINITE);
    const Outcome o = WriteRecords(log, records);
    FILE* out = _wfopen(resultFile, L"w");
    if (!out) return 4;
    Print(out, o);
    std::fclose(out);
    return 0;
}

int Fan(const wchar_t* self, const wchar_t* log, long records, long processes) {
    HANDLE ready = CreateSemaphoreW(nullptr, 0, processes, kReadyName);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, kGoName);
    std::vector<HANDLE> children;
    std::vector<std::wstring> results;
    for (long i = 0; i < processes; ++i) {
        const std::wstring result = std::wstring(log) + L"." + std::to_wstring(i) + L".result";
        DeleteFileW(result.c_str());
        std::wstring line = L"\"" + std::wstring(self) + L"\" child \"" + log + L"\" " + std::to_wstring(records) +
                            L" \"" + result + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            std::printf("error=CreateProcessW code=%lu\n", GetLastError());
            return 1;
        }
        CloseHandle(pi.hThread);
        children.push_back(pi.hProcess);
        results.push_back(result);
    }
    // Every writer waits at the starting line before any of them may go.
    for (long i = 0; i < processes; ++i)
        if (WaitForSingleObject(ready, 60000) != WAIT_OBJECT_0) {
            std::printf("error=children did not start\n");
            return 1;
        }
    SetEvent(go);
    WaitForMultipleObjects(static_cast<DWORD>(children.size()), children.data(), TRUE, INFINITE);
    for (size_t i = 0; i < children.size(); ++i) {
        CloseHandle(children[i]);
        FILE* in = _wfopen(results[i].c_str(), L"r");
        char line[256] = {};
        if (!in || !std::fgets(line, sizeof line, in)) {
            std::printf("error=no result from process %zu\n", i);
        } else {
            std::printf("%s", line);
        }
        if (in) std::fclose(in);
        DeleteFileW(results[i].c_str());
    }
    std::fflush(stdout);
    CloseHandle(go);
    CloseHandle(ready);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && std::wcscmp(argv[1], L"single") == 0) {
        Print(stdout, WriteRecords(argv[2], std::wcstol(argv[3], nullptr, 10)));
        return 0;
    }
    if (argc >= 5 && std::wcscmp(argv[1], L"fan") == 0)
        return Fan(argv[0], argv[2], std::wcstol(argv[3], nullptr, 10), std::wcstol(argv[4], nullptr, 10));
    if (argc >= 5 && std::wcscmp(argv[1], L"child") == 0)
        return Child(argv[2], std::wcstol(argv[3], nullptr, 10), argv[4]);
    std::fprintf(stderr, "usage: bench_logwriter single|fan <log> <records> [processes]\n");
    return 2;
}
