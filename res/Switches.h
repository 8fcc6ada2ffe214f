#pragma once
// Command-line switches, matched as case-sensitive substrings anywhere in
// the argument tail (a switch also counts inside a longer word).
#include <cwchar>

// Who started the launcher: the Pad, or the device co-installer.
inline constexpr wchar_t kSwitchCallerSetup[] = L"CALLER=SETUP", kSwitchCallerCoInstaller[] = L"CALLER=COINSTALLER";
// The Run value's clean-up; the resume after a restart (passed on to the
// install-actions module).
inline constexpr wchar_t kSwitchRunOnce[] = L"RUNONCE=YES", kSwitchAfterReboot[] = L"AFTERREBOOT=YES";
// Unattended runs: no window of the product's at all, and no restart that
// the launcher starts itself.
inline constexpr wchar_t kSwitchQuiet[] = L"QUIET=YES", kSwitchNoRestart[] = L"NORESTART=YES";

inline bool HasSwitch(const wchar_t* tail, const wchar_t* sw) {
    return tail && std::wcsstr(tail, sw) != nullptr;
}
