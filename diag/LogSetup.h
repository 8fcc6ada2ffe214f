#pragma once
#include <windows.h>

#include "diag/LogLevel.h"

// Builds the log file's path in logFile (MAX_PATH characters, zero-filled by
// the caller): <temp>\{product}\~qx<hex>.log; points the logger at it and
// sets the level. Never fails; without a unique name the path stays empty
// and nothing is logged.
void InitializeLog(wchar_t* logFile);
