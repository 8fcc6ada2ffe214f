#pragma once
// How much is logged: the registry value every writer of the log reads.
#include <windows.h>

// "LogLevel" read as a 32-bit value, or the default 126 (all record types)
// when the key or the value cannot be read (a value longer than 4 bytes
// cannot).
DWORD ReadLogLevel();
