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
// the resumed run writes to the same file; capacity is then the buffer's.
// Returns false when it does not fit; command is then left empty.
bool BuildResumeCommand(const wchar_t* cacheFolder, wchar_t* command, bool quiet = false,
                        const wchar_t* logFile = nullptr, size_t capacity = MAX_PATH);

// The buffer a resume command with a requested log needs at most.
constexpr size_t kResumeCommandWithLogCapacity = 2 * MAX_PATH + 48;

// Registers the cached launcher under the machine's RunOnce key. The data
// is always the whole buffer: 260 characters (520 bytes), or
// kResumeCommandWithLogCapacity with a requested log. False when no entry
// was written.
bool SetRunOnceEntry(const wchar_t* cacheFolder, bool quiet = false, const wchar_t* logFile = nullptr);

// Enables the shutdown privilege and asks for a forced restart.
void RebootSystemNow();

// Deletes the product's Run value, if there is one.
void RemoveRunOnceEntry();
