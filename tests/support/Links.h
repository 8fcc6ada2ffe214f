#pragma once
// Links for the tests: a Unix symbolic link in the prefix, made by the
// system's ln, stands in for a junction or a symbolic link. Wine shows one
// to a folder with the reparse-point attribute and one to a file as a plain
// file, and follows both; it makes no Windows link of its own
// (CreateSymbolicLinkW reports success and makes nothing).
#include <windows.h>

#include <string>
#include <vector>

namespace qxtest {

// The Unix path of a Windows path in the prefix; empty when unknown.
inline std::string UnixPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(path.c_str()) : nullptr;
    if (!unix) return "";
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Runs a shell command of the system (outside Windows) and waits for its
// end: Wine gives no handle that tells when such a program has ended, so
// the command leaves a marker file behind, which is waited for.
inline bool RunSystemShell(const std::wstring& script) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    const std::wstring marker =
        std::wstring(temp) + L"qxtest-shell-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
        std::to_wstring(++counter) + L".done";
    const std::string unixMarker = UnixPath(marker);
    if (unixMarker.empty()) return false;
    std::wstring command = L"/bin/sh -c \"" + script + L"; : > '" +
                           std::wstring(unixMarker.begin(), unixMarker.end()) + L"'\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 300 && GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
    return DeleteFileW(marker.c_str()) != FALSE;
}

// The Unix path in single quotes, for a shell command.
inline std::wstring QuotedUnix(const std::wstring& path) {
    const std::string unix = UnixPath(path);
    return L"'" + std::wstring(unix.begin(), unix.end()) + L"'";
}

// Removes folders (or files) and all they hold without following any link
// in them, with one command of the system: a link goes as an entry, what it
// points at stays. False when the command could not be run.
inline bool RemoveTreesNoFollow(const std::vector<std::wstring>& folders) {
    std::wstring paths;
    for (std::wstring folder : folders) {
        while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        // Only below a drive's root, never the root or the prefix's drive itself.
        if (folder.size() <= 3 || folder[1] != L':' || folder[2] != L'\\') continue;
        if (UnixPath(folder).size() > 1) paths += L" " + QuotedUnix(folder);
    }
    return paths.empty() || RunSystemShell(L"rm -rf" + paths);
}

inline void RemoveTreeNoFollow(const std::wstring& folder) { RemoveTreesNoFollow({folder}); }

// A link at link (which must not exist; a trailing backslash is dropped)
// to target, which need not exist. False when it could not be made.
inline bool MakeLink(std::wstring link, std::wstring target) {
    while (link.size() > 3 && link.back() == L'\\') link.pop_back();
    while (target.size() > 3 && target.back() == L'\\') target.pop_back();
    if (UnixPath(target).empty() || UnixPath(link).empty()) return false;
    return RunSystemShell(L"ln -s " + QuotedUnix(target) + L" " + QuotedUnix(link));
}

// A link that another program (a shell loop outside Wine) switches between
// two folders as fast as it can, each switch an atomic rename over the
// link, from Start until Stop (or the end of the object).
class SwitchingLink {
public:
    SwitchingLink() = default;
    SwitchingLink(const SwitchingLink&) = delete;
    SwitchingLink& operator=(const SwitchingLink&) = delete;
    ~SwitchingLink() { Stop(); }

    // link must not exist (a trailing backslash is dropped); false when the
    // loop could not be started.
    bool Start(std::wstring link, std::wstring a, std::wstring b) {
        for (std::wstring* path : {&link, &a, &b})
            while (path->size() > 3 && path->back() == L'\\') path->pop_back();
        if (!MakeLink(link, a)) return false;
        const std::wstring next = QuotedUnix(link + L".next");
        const std::wstring target = QuotedUnix(link);
        stop_ = link + L".stop";
        stopped_ = link + L".stopped";
        DeleteFileW(stop_.c_str());
        DeleteFileW(stopped_.c_str());
        const std::wstring stop = QuotedUnix(stop_), stopped = QuotedUnix(stopped_);
        // Left running in the background; it ends when the stop file appears.
        running_ = RunSystemShell(L"(while [ ! -e " + stop + L" ]; do ln -sfn " + QuotedUnix(b) + L" " + next +
                                  L" && mv -T " + next + L" " + target + L"; ln -sfn " + QuotedUnix(a) + L" " + next +
                                  L" && mv -T " + next + L" " + target + L"; done; : > " + stopped +
                                  L") >/dev/null 2>&1 & true");
        return running_;
    }

    // Ends the loop and waits for it (at most ten seconds).
    void Stop() {
        if (!running_) return;
        running_ = false;
        HANDLE file = CreateFileW(stop_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        for (int i = 0; i < 500 && GetFileAttributesW(stopped_.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
        DeleteFileW(stop_.c_str());
        DeleteFileW(stopped_.c_str());
    }

private:
    bool running_ = false;
    std::wstring stop_, stopped_;
};

}  // namespace qxtest
