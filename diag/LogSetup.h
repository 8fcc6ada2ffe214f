#pragma once
#include <windows.h>

#include "diag/LogLevel.h"

#include <string>

// Builds the log file's path in logFile (MAX_PATH characters, zero-filled by
// the caller): <temp>\{product}\~qx<hex>.log; points the logger at it and
// sets the level. Never fails; without a unique name the path stays empty
// and nothing is logged.
//
// requested (a file the caller named, "/log <file>"; may be empty or
// relative to the current folder): the log goes there instead, appended,
// when its folder exists, is no link and is owned by the launcher's user,
// Administrators or SYSTEM, the file is no link or folder, and its full
// path fits a record's path. Otherwise the default log is used and the
// result says why the requested one was not; empty when all went well.
std::wstring InitializeLog(wchar_t* logFile, const wchar_t* requested = nullptr);
