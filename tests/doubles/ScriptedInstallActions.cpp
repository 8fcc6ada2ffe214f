// An install-actions module that does what the scenario's script asks and
// records every call. The script, "actions-script.txt", lies beside the
// module or, only when the module runs from the product's cache (the
// resumed run after a restart), in the source folder the launcher
// recorded. It holds key=value lines:
//   result=N               returned code (default 0)
//   result_after_reboot=N  returned when the command line holds AFTERREBOOT=YES
//   unlock=0|1             release the lock record before returning (default 1)
//   pause_before_unlock=1, pause_after_unlock=1   wait at that point for the
//                          test's go (tests/support/ActionsPause.h)
//   list_cache=1           record the files in the product's cache folder
//   load_dwmapi=1          load dwmapi.dll by its bare name, as system DLLs
//                          load their helpers, and record where it came from
// Each call appends one line to "actions-record.txt" in the script's folder:
//   tail=...|log=...|held=N|fourth=N|unlocked=N|entered=FILETIME|returned=FILETIME|script=FOLDER[|cache=a;b;...]
//   [|loaded=PATH]
// Without a script it takes no other test's: it releases the lock, records
// "script=none" beside itself and returns kNoScriptResult.
#include <cstdlib>
#include <map>
#include <string>

#include "framework/Ownership.h"
#include "modules/InstallActions.h"
#include "res/SourceRecord.h"
#include "tests/doubles/Record.h"
#include "tests/support/ActionsPause.h"
#include "tests/support/Files.h"

namespace {

using qxdouble::ThisModule;

constexpr wchar_t kScript[] = L"actions-script.txt";
// ERROR_NOT_FOUND: an installation that fails visibly, with a code no
// script of the tests asks for.
constexpr int kNoScriptResult = ERROR_NOT_FOUND;

// The folder whose script this call follows; empty when there is none.
std::wstring ScriptFolder() {
    const std::wstring own = qxtest::ModuleFolder(ThisModule());
    if (qxtest::FileExists(own + kScript)) return own;
    if (_wcsicmp(own.c_str(), qxtest::CacheFolder().c_str()) != 0) return L"";
    const SourceRecord recorded = ReadSourceRecord();
    std::wstring source = recorded.found ? recorded.folder : L"";
    if (!source.empty() && source.back() != L'\\') source += L'\\';
    return !source.empty() && qxtest::FileExists(source + kScript) ? source : L"";
}

void ListFiles(const std::wstring& folder, const std::wstring& prefix, std::wstring& out) {
    for (const std::wstring& name : qxtest::FilesIn(folder)) {
        const DWORD attributes = GetFileAttributesW((folder + name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            ListFiles(folder + name + L"\\", prefix + name + L"\\", out);
        else
            out += prefix + name + L";";
    }
}

std::wstring CacheListing() {
    std::wstring listing;
    ListFiles(qxtest::CacheFolder(), L"", listing);
    return listing;
}

std::map<std::string, long> ReadScript(const std::wstring& folder) {
    std::map<std::string, long> script;
    if (folder.empty()) return script;
    const std::string text = qxtest::ReadBytes(folder + kScript);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        const size_t eq = line.find('=');
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
    const std::wstring folder = ScriptFolder();
    const auto script = ReadScript(folder);
    const std::wstring cache = Get(script, "list_cache", 0) ? L"|cache=" + CacheListing() : L"";
    std::wstring loaded;
    if (Get(script, "load_dwmapi", 0)) {
        // Left loaded: a DLL of the system stays for the process's life.
        HMODULE dll = LoadLibraryW(L"dwmapi.dll");
        wchar_t path[MAX_PATH] = L"(none)";
        if (dll) GetModuleFileNameW(dll, path, MAX_PATH);
        loaded = std::wstring(L"|loaded=") + path;
    }
    const std::wstring tail = commandLine ? commandLine : L"(null)";
    const bool afterReboot = tail.find(L"AFTERREBOOT=YES") != std::wstring::npos;

    if (Get(script, "pause_before_unlock", 0)) qxtest::PauseHere(qxtest::kPauseBeforeUnlock);
    int unlocked = 0;
    if (uiLock && Get(script, "unlock", 1)) unlocked = uiLock->Unlock() ? 1 : 0;
    if (Get(script, "pause_after_unlock", 0)) qxtest::PauseHere(qxtest::kPauseAfterUnlock);

    int result = static_cast<int>(Get(script, "result", 0));
    if (afterReboot) result = static_cast<int>(Get(script, "result_after_reboot", result));
    if (folder.empty()) result = kNoScriptResult;

    const std::wstring recordFolder = folder.empty() ? qxtest::ModuleFolder(ThisModule()) : folder;
    qxdouble::AppendRecordAt(recordFolder + L"actions-record.txt",
                             L"tail=" + tail + L"|log=" + std::wstring(logFile ? logFile : L"(null)") +
                                 L"|held=" + std::to_wstring(held) + L"|fourth=" + std::to_wstring(reserved) +
                                 L"|unlocked=" + std::to_wstring(unlocked) + L"|entered=" +
                                 std::to_wstring(entered) + L"|returned=" + std::to_wstring(Now()) +
                                 L"|script=" + (folder.empty() ? L"none" : folder) + cache + loaded);
    return result;
}
