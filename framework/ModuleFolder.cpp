#include "framework/ModuleFolder.h"

#include "framework/BoundedText.h"

namespace qx {

bool GetModuleFolder(HMODULE module, wchar_t* buffer, DWORD capacity) {
    if (!buffer || capacity == 0) return false;
    buffer[0] = L'\0';
    wchar_t file[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(module, file, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    wchar_t full[MAX_PATH] = {};
    wchar_t* filePart = nullptr;
    DWORD m = GetFullPathNameW(file, MAX_PATH, full, &filePart);
    if (m == 0 || m >= MAX_PATH) return false;
    if (filePart) *filePart = L'\0';
    return BoundedCopy(buffer, capacity, full);
}

}  // namespace qx
