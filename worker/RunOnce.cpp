#include "worker/RunOnce.h"

#include <windows.h>

#include "res/ProductIdentity.h"
#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/Ownership.h"

bool BuildResumeCommand(const wchar_t* cacheFolder, wchar_t* command, bool quiet, const wchar_t* logFile,
                        size_t capacity, const wchar_t* properties) {
    // The closing quote stands right after the file name: the system splits
    // a quoted command at the quote, so a quote after the arguments would
    // make the whole text one (missing) program path.
    bool ok = cacheFolder && *cacheFolder && qx::BoundedCopy(command, capacity, L"\"") &&
              qx::BoundedAppend(command, capacity, cacheFolder);
    size_t len = qx::BoundedLength(command, capacity);
    if (ok && len > 1 && command[len - 1] != L'\\') ok = qx::BoundedAppend(command, capacity, L"\\");
    ok = ok && qx::BoundedAppend(command, capacity, kLauncherFile64) &&
         qx::BoundedAppend(command, capacity, L"\" AFTERREBOOT=YES CALLER=SETUP") &&
         (!quiet || qx::BoundedAppend(command, capacity, L" QUIET=YES"));
    if (ok && logFile && *logFile)
        ok = qx::BoundedAppend(command, capacity, L" /log \"") && qx::BoundedAppend(command, capacity, logFile) &&
             qx::BoundedAppend(command, capacity, L"\"");
    if (ok && properties && *properties)
        ok = qx::BoundedAppend(command, capacity, L" ") && qx::BoundedAppend(command, capacity, properties);
    if (!ok) {
        for (size_t i = 0; i < capacity; ++i) command[i] = L'\0';
    }
    return ok;
}

bool SetRunOnceEntry(const wchar_t* cacheFolder, bool quiet, const wchar_t* logFile, const wchar_t* properties) {
    wchar_t command[kResumeCommandWithLogCapacity] = {};
    const bool longer = (logFile && *logFile) || (properties && *properties);
    const size_t capacity = longer ? kResumeCommandWithLogCapacity : MAX_PATH;
    bool built = BuildResumeCommand(cacheFolder, command, quiet, logFile, capacity, properties);
    LogTrace(L"In SetRunOnceEntry: %s", command);
    // A command cut short would start something else after the restart.
    bool written = false;
    if (built) {
        qx::UniqueKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_WRITE, key.put()) == ERROR_SUCCESS)
            written = RegSetValueExW(key.get(), kRunOnceValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                                     static_cast<DWORD>(capacity * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    LogTrace(L"Exiting SetRunOnceEntry");
    return written;
}

namespace {

// One request, in the way that works from where the launcher runs; 0 when
// the system took it, else its answer.
DWORD AskForRestart(RestartAsker asker, const RestartCalls& calls) {
    if (asker == RestartAsker::kElsewhere)
        return calls.initiateShutdown(nullptr, nullptr, kSystemRestartGraceSeconds, kSystemRestartFlags, kRestartReason);
    if (calls.exitWindows(kRestartFlags, kRestartReason)) return ERROR_SUCCESS;
    const DWORD refused = GetLastError();
    return refused != ERROR_SUCCESS ? refused : ERROR_GEN_FAILURE;
}

}  // namespace

bool RebootSystemNow(RestartAsker asker, const RestartCalls& calls) {
    LogTrace(L"In RebootSystemNow");
    LogTrace(asker == RestartAsker::kElsewhere
                 ? L"Restart asked of the system (InitiateShutdownW): not the interactive user's session"
                 : L"Restart asked of the interactive session (ExitWindowsEx)");
    qx::UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    // Also ERROR_NOT_ALL_ASSIGNED when the privilege could not be enabled.
    const DWORD error = GetLastError();
    if (error != ERROR_SUCCESS) {
        LogSystemError(error);
        return false;
    }
    // Never forced: a forced restart ends programs without asking them, and
    // a person's unsaved work in them is lost.
    for (int attempt = 0;; ++attempt) {
        const DWORD answer = AskForRestart(asker, calls);
        if (answer == ERROR_SUCCESS) {
            LogTrace(L"Exiting RebootSystemNow");
            return true;
        }
        if ((answer != ERROR_MACHINE_LOCKED && answer != ERROR_NOT_READY) || attempt == kRestartRetries) {
            LogSystemError(answer);
            return false;
        }
        calls.pause(1000);
    }
}

void RemoveRunOnceEntry() {
    LogTrace(L"In RemoveRunOnceEntry: ");
    qx::UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), kRunValue);
    LogTrace(L"Exiting RemoveRunOnceEntry");
}
