// An install-actions module that does what the scenario's script asks and
// records every call. The script, "actions-script.txt" beside the module,
// holds key=value lines:
//   result=N               returned code (default 0)
//   result_after_reboot=N  returned when the command line holds AFTERREBOOT=YES
//   unlock=0|1             release the lock record before returning (default 1)
//   delay_before_unlock_ms=N, delay_ms=N   time taken before / after unlocking
// Each call appends one line to "actions-record.txt":
//   tail=...|log=...|held=N|fourth=N|entered=FILETIME|returned=FILETIME
#include <cstdlib>
#include <map>
#include <string>

#include "modules/InstallActions.h"
#include "tests/doubles/Record.h"

namespace {

HMODULE ThisModule() {
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &m);
    return m;
}

std::map<std::string, long> ReadScript() {
    std::map<std::string, long> script;
    std::wstring path = qxdouble::OwnFolder(ThisModule()) + L"actions-script.txt";
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
    const auto script = ReadScript();
    const std::wstring tail = commandLine ? commandLine : L"(null)";
    const bool afterReboot = tail.find(L"AFTERREBOOT=YES") != std::wstring::npos;

    Sleep(static_cast<DWORD>(Get(script, "delay_before_unlock_ms", 0)));
    if (uiLock && Get(script, "unlock", 1)) uiLock->Unlock();
    Sleep(static_cast<DWORD>(Get(script, "delay_ms", 0)));

    int result = static_cast<int>(Get(script, "result", 0));
    if (afterReboot) result = static_cast<int>(Get(script, "result_after_reboot", result));

    qxdouble::AppendRecord(ThisModule(), L"actions-record.txt",
                           L"tail=" + tail + L"|log=" + std::wstring(logFile ? logFile : L"(null)") +
                               L"|held=" + std::to_wstring(held) + L"|fourth=" + std::to_wstring(reserved) +
                               L"|entered=" + std::to_wstring(entered) + L"|returned=" + std::to_wstring(Now()));
    return result;
}
