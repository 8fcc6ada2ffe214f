#include "framework/ModuleFolder.h"

#include "framework/BoundedText.h"

namespace qx {

bool GetLauncherFolder(wchar_t* buffer, DWORD capacity) {
    if (!buffer || capacity == 0) return false;
    buffer[0] = L'\0';
    wchar_t module[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    wchar_t full[MAX_PATH] = {};
    wchar_t* filePart = nullptr;
    DWORD m = GetFullPathNameW(module, MAX_PATH, full, &filePart);
    if (m == 0 || m >= MAX_PATH) return false;
    if (filePart) *filePart = L'\0';
    return BoundedCopy(buffer, capacity, full);
}

}  // namespace qx
