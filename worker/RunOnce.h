#pragma once
// The restart and the resumption after it.

inline constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Builds the resume command for the launcher in cacheFolder (which ends in a
// backslash) into command, a zero-filled 260-character buffer:
//   "<cacheFolder>QXVSetup64.exe" AFTERREBOOT=YES CALLER=SETUP
// and " QUIET=YES" after it for a quiet run, so the resumed run is quiet too.
// Returns false when it does not fit; command is then left empty.
bool BuildResumeCommand(const wchar_t* cacheFolder, wchar_t* command, bool quiet = false);

// Registers the cached launcher under the machine's RunOnce key. The data
// is always the whole 260-character buffer (520 bytes).
void SetRunOnceEntry(const wchar_t* cacheFolder, bool quiet = false);

// Enables the shutdown privilege and asks for a forced restart.
void RebootSystemNow();

// Deletes the product's Run value, if there is one.
void RemoveRunOnceEntry();
