#pragma once
// Command-line switches, matched as case-sensitive substrings anywhere in
// the argument tail (a switch also counts inside a longer word).
#include <cwchar>

inline constexpr wchar_t kSwitchCallerSetup[] = L"CALLER=SETUP";
inline constexpr wchar_t kSwitchCallerCoInstaller[] = L"CALLER=COINSTALLER";
inline constexpr wchar_t kSwitchRunOnce[] = L"RUNONCE=YES";
inline constexpr wchar_t kSwitchAfterReboot[] = L"AFTERREBOOT=YES";
// Unattended runs: no window of the product's at all, and no restart that
// the launcher starts itself.
inline constexpr wchar_t kSwitchQuiet[] = L"QUIET=YES";
inline constexpr wchar_t kSwitchNoRestart[] = L"NORESTART=YES";

inline bool HasSwitch(const wchar_t* tail, const wchar_t* sw) {
    return tail && std::wcsstr(tail, sw) != nullptr;
}
