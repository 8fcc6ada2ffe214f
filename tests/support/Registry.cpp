#include "tests/support/Registry.h"

#include <algorithm>

#include "cache/PendingDeletions.h"
#include "framework/Ownership.h"

namespace qxtest {

void DeleteKey(HKEY root, const std::wstring& path) {
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    qx::UniqueKey k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, k.put()) == ERROR_SUCCESS)
        RegDeleteValueW(k.get(), name.c_str());
}

bool KeyExists(HKEY root, const std::wstring& path) {
    qx::UniqueKey k;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::wstring& key, const std::wstring& name) {
    qx::UniqueKey k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return false;
    return RegQueryValueExW(k.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const void* data,
              DWORD size) {
    qx::UniqueKey k;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(k.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value) {
    return SetValue(root, key, name, REG_DWORD, &value, sizeof value);
}

RegistryValue ReadValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    RegistryValue value;
    qx::UniqueKey k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS) return value;
    DWORD bytes = 0;
    if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &value.type, nullptr, &bytes) != ERROR_SUCCESS) return value;
    value.data.resize(bytes);
    value.present = RegQueryValueExW(k.get(), name.c_str(), nullptr, &value.type, value.data.data(), &bytes) ==
                    ERROR_SUCCESS;
    value.data.resize(bytes);
    return value;
}

std::vector<PendingRename> PendingRenames() {
    const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    const std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t));
    std::vector<std::wstring> strings;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find(L'\0', at), text.size());
        strings.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    std::vector<PendingRename> pairs;
    for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
    return pairs;
}

}  // namespace qxtest
