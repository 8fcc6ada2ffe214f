#pragma once
// The prefix's registry as a test prepares and reads it (64-bit view).
#include <windows.h>

#include <string>
#include <vector>

namespace qxtest {

// Removes a key with everything below it; nothing when it is not there.
void DeleteKey(HKEY root, const std::wstring& path);
void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name);
bool KeyExists(HKEY root, const std::wstring& path);
bool ValueExists(HKEY root, const std::wstring& key, const std::wstring& name);
// Creates the key when needed.
bool SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const void* data,
              DWORD size);
bool SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value);

// A value's type and exact bytes.
struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
RegistryValue ReadValue(HKEY root, const std::wstring& key, const std::wstring& name);

}  // namespace qxtest
