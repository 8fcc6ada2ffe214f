#pragma once
#include <windows.h>

namespace qx {

// The folder of a module (null: the running executable), with its trailing
// backslash: GetModuleFileNameW, then GetFullPathNameW cut at the file
// part. Returns false (and an empty buffer) when it cannot be had.
bool GetModuleFolder(HMODULE module, wchar_t* buffer, DWORD capacity);
inline bool GetLauncherFolder(wchar_t* buffer, DWORD capacity) { return GetModuleFolder(nullptr, buffer, capacity); }

}  // namespace qx
