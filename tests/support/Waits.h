#pragma once
// Waiting for what a test means rather than for a while: a condition that
// is looked at again until it holds, a process's visible windows, the
// processes running from a program file. Every limit here only guards
// against a hang; it is generous enough for a loaded machine.
#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/Ownership.h"

namespace qxtest {

inline constexpr DWORD kHangGuardMs = 60000;

// Looks at done() until it holds or timeoutMs has passed; true when it held.
// pollMs is how often it looks, not what it waits for.
inline bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = kHangGuardMs, DWORD pollMs = 20) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(pollMs);
    }
}

// The visible top-level windows of the process, of one window class (all
// classes when windowClass is null).
inline std::vector<HWND> VisibleWindowsOf(DWORD processId, const wchar_t* windowClass = nullptr) {
    struct Search {
        DWORD processId;
        const wchar_t* windowClass;
        std::vector<HWND> found;
    } search{processId, windowClass, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != s->processId || !IsWindowVisible(window)) return TRUE;
            wchar_t cls[64] = {};
            GetClassNameW(window, cls, 64);
            if (!s->windowClass || lstrcmpW(cls, s->windowClass) == 0) s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Whether any top-level window of the process is visible now.
inline bool HasVisibleWindow(DWORD processId) { return !VisibleWindowsOf(processId).empty(); }

// The ids of the running processes whose program is the file at path (a
// full path, compared without regard to case). A process whose full path
// cannot be read yet, just started, counts when its file name matches.
inline std::vector<DWORD> ProcessesOf(const std::wstring& path) {
    std::vector<DWORD> ids;
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    const qx::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, name.c_str()) != 0) continue;
        const qx::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        const bool named = process && QueryFullProcessImageNameW(process.get(), 0, image, &size);
        if (named && lstrcmpiW(image, path.c_str()) != 0) continue;
        ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

// Waits until no process runs from the program file at path: whatever such
// a program was started to do before now has then been done.
inline bool WaitUntilNoneRuns(const std::wstring& path, DWORD timeoutMs = kHangGuardMs) {
    return WaitUntil([&] { return ProcessesOf(path).empty(); }, timeoutMs);
}

}  // namespace qxtest
