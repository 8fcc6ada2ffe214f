#pragma once
// The prefix's registry as a test prepares and reads it (64-bit view).
#include <windows.h>

#include <string>
#include <utility>
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

// What the system renames and deletes at the next restart
// (PendingFileRenameOperations), as source and destination pairs in their
// order; a deletion's destination is empty.
using PendingRename = std::pair<std::wstring, std::wstring>;
std::vector<PendingRename> PendingRenames();

}  // namespace qxtest
