// An install-actions module that does what the scenario's script asks and
// records every call. The script, "actions-script.txt", lies beside the
// module or, when the module runs from the cache after a restart, in the
// source folder the launcher recorded. It holds key=value lines:
//   result=N               returned code (default 0)
//   result_after_reboot=N  returned when the command line holds AFTERREBOOT=YES
//   unlock=0|1             release the lock record before returning (default 1)
//   pause_before_unlock=1, pause_after_unlock=1   wait at that point for the
//                          test's go (tests/support/ActionsPause.h)
//   list_cache=1           record the files in the product's cache folder
// Each call appends one line to "actions-record.txt" in the same folder:
//   tail=...|log=...|held=N|fourth=N|unlocked=N|entered=FILETIME|returned=FILETIME[|cache=a;b;...]
#include <shlobj.h>

#include <cstdlib>
#include <map>
#include <string>

#include "modules/InstallActions.h"
#include "tests/doubles/Record.h"
#include "tests/support/ActionsPause.h"

namespace {

using qxdouble::ThisModule;

std::wstring RecordedSourceFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD bytes = MAX_PATH * sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE,
                     L"SOFTWARE\\Selkirk-Vane\\Installed Products\\{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}",
                     L"SourcePath", RRF_RT_REG_SZ, nullptr, folder, &bytes) != ERROR_SUCCESS)
        return L"";
    return folder;
}

// Where the script and the record live.
std::wstring ScenarioFolder() {
    std::wstring own = qxdouble::OwnFolder(ThisModule());
    if (GetFileAttributesW((own + L"actions-script.txt").c_str()) != INVALID_FILE_ATTRIBUTES) return own;
    std::wstring recorded = RecordedSourceFolder();
    return recorded.empty() ? own : recorded;
}

void ListFiles(const std::wstring& folder, const std::wstring& prefix, std::wstring& out) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListFiles(folder + name + L"\\", prefix + name + L"\\", out);
        } else {
            out += prefix + name + L";";
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::wstring CacheListing() {
    wchar_t appData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, appData))) return L"(no appdata)";
    std::wstring listing;
    ListFiles(std::wstring(appData) + L"\\Selkirk-Vane\\QX Prism P4000 Series\\", L"", listing);
    return listing;
}

std::map<std::string, long> ReadScript(const std::wstring& folder) {
    std::map<std::string, long> script;
    std::wstring path = folder + L"actions-script.txt";
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return script;
    char buf[4096] = {};
    DWORD n = 0;
    ReadFile(h, buf, sizeof buf - 1, &n, nullptr);
    CloseHandle(h);
    std::string text(buf, n);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        size_t eq = line.find('=');
        if (eq != std::string::npos) script[line.substr(0, eq)] = std::strtol(line.c_str() + eq + 1, nullptr, 10);
        pos = end + 1;
    }
    return script;
}

unsigned long long Now() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

long Get(const std::map<std::string, long>& s, const char* key, long fallback) {
    auto it = s.find(key);
    return it == s.end() ? fallback : it->second;
}

}  // namespace

QX_INSTALLACTIONS_API int DoInstallActions(const wchar_t* commandLine, UiLock* uiLock, const wchar_t* logFile,
                                           int reserved) {
    const unsigned long long entered = Now();
    const int held = uiLock ? uiLock->m_bAcquired : -1;
    const std::wstring folder = ScenarioFolder();
    const auto script = ReadScript(folder);
    const std::wstring cache = Get(script, "list_cache", 0) ? L"|cache=" + CacheListing() : L"";
    const std::wstring tail = commandLine ? commandLine : L"(null)";
    const bool afterReboot = tail.find(L"AFTERREBOOT=YES") != std::wstring::npos;

    if (Get(script, "pause_before_unlock", 0)) qxtest::PauseHere(qxtest::kPauseBeforeUnlock);
    int unlocked = 0;
    if (uiLock && Get(script, "unlock", 1)) unlocked = uiLock->Unlock() ? 1 : 0;
    if (Get(script, "pause_after_unlock", 0)) qxtest::PauseHere(qxtest::kPauseAfterUnlock);

    int result = static_cast<int>(Get(script, "result", 0));
    if (afterReboot) result = static_cast<int>(Get(script, "result_after_reboot", result));

    qxdouble::AppendRecordAt(folder + L"actions-record.txt",
                             L"tail=" + tail + L"|log=" + std::wstring(logFile ? logFile : L"(null)") +
                                 L"|held=" + std::to_wstring(held) + L"|fourth=" + std::to_wstring(reserved) +
                                 L"|unlocked=" + std::to_wstring(unlocked) + L"|entered=" +
                                 std::to_wstring(entered) + L"|returned=" + std::to_wstring(Now()) + cache);
    return result;
}
