#pragma once
#include <windows.h>

// Registry value that sets how much is logged.
inline constexpr wchar_t kLogLevelKey[] = L"SOFTWARE\\Oblent\\Installer";
inline constexpr wchar_t kLogLevelValue[] = L"LogLevel";

// Builds the log file's path in logFile (MAX_PATH characters, zero-filled by
// the caller): <temp>\{product}\~qx<hex>.log; points the logger at it and
// sets the level. Never fails; without a unique name the path stays empty
// and nothing is logged.
void InitializeLog(wchar_t* logFile);

// "LogLevel" read as a 32-bit value, or the default 126 when the key or the
// value cannot be read (a value longer than 4 bytes cannot).
DWORD ReadLogLevel();
