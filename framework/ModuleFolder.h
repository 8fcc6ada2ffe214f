#pragma once
#include <windows.h>

namespace qx {

// The folder of the running executable, with its trailing backslash:
// GetModuleFileNameW, then GetFullPathNameW cut at the file part.
// Returns false (and an empty buffer) when it cannot be had.
bool GetLauncherFolder(wchar_t* buffer, DWORD capacity);

}  // namespace qx
