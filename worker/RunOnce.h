#pragma once
// The restart and the resumption after it.
#include <windows.h>

inline constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Builds the resume command for the launcher in cacheFolder (which ends in a
// backslash) into command, a zero-filled 260-character buffer:
//   "<cacheFolder>QXVSetup64.exe" AFTERREBOOT=YES CALLER=SETUP
// and " QUIET=YES" after it for a quiet run, so the resumed run is quiet too.
// With logFile (a log the caller asked for) ' /log "<logFile>"' follows, so
// the resumed run writes to the same file; with properties (the public
// installer properties of the command line, quoted as arguments) they
// follow, so the resumed run installs with them; capacity is then the
// buffer's. Returns false when it does not fit (nothing is cut short);
// command is then left empty.
bool BuildResumeCommand(const wchar_t* cacheFolder, wchar_t* command, bool quiet = false,
                        const wchar_t* logFile = nullptr, size_t capacity = MAX_PATH,
                        const wchar_t* properties = nullptr);

// The buffer a resume command with a requested log or properties may use.
constexpr size_t kResumeCommandWithLogCapacity = 2 * MAX_PATH + 48;

// Registers the cached launcher under the machine's RunOnce key. The data
// is always the whole buffer: 260 characters (520 bytes), or
// kResumeCommandWithLogCapacity with a requested log or properties. False
// when no entry was written.
bool SetRunOnceEntry(const wchar_t* cacheFolder, bool quiet = false, const wchar_t* logFile = nullptr,
                     const wchar_t* properties = nullptr);

// The system calls behind a restart request, so a test can stand in for them.
struct RestartCalls {
    BOOL(WINAPI* exitWindows)(UINT flags, DWORD reason) = ExitWindowsEx;
    DWORD(WINAPI* initiateShutdown)(LPWSTR machine, LPWSTR message, DWORD graceSeconds, DWORD flags,
                                    DWORD reason) = InitiateShutdownW;
    void(WINAPI* pause)(DWORD milliseconds) = Sleep;
};

// Where the restart is asked from. ExitWindowsEx restarts only from the
// interactive user's own logon session: elsewhere (session 0, a window
// station nobody sees, another user) it may succeed and restart nothing,
// so the system is asked directly.
enum class RestartAsker { kInteractiveUser, kElsewhere };

// How a restart is asked for: every program is asked first and may save its
// work or refuse; only a program that does not answer (hung) is ended.
inline constexpr UINT kRestartFlags = EWX_REBOOT | EWX_FORCEIFHUNG;
// The same asked of the system: a restart, no program forced (neither the
// others nor this one), after a grace period in which a person at the
// machine is told.
inline constexpr DWORD kSystemRestartFlags = SHUTDOWN_RESTART;
inline constexpr DWORD kSystemRestartGraceSeconds = 30;
// A planned restart to finish an installation.
inline constexpr DWORD kRestartReason =
    SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_UPGRADE;
// A request the system refuses for now (the machine is locked, or not ready
// to shut down) is made again this many times, a second apart.
inline constexpr int kRestartRetries = 10;

// Enables the shutdown privilege and asks for a restart in the way that
// works from where the launcher runs. True when the system took the
// request; whether the restart then happens is up to the programs asked
// (one that declines keeps it from happening, and the RunOnce entry waits
// for whichever restart comes next).
bool RebootSystemNow(RestartAsker asker, const RestartCalls& calls = RestartCalls());

// Deletes the product's Run value, if there is one.
void RemoveRunOnceEntry();
