#include "cache/CacheFolderGuard.h"

#include <shlobj.h>

#include <cwctype>

#include "res/ProductIdentity.h"
#include "framework/BoundedText.h"

namespace {

bool Fail(std::wstring* reason, const std::wstring& text) {
    if (reason) *reason = text;
    return false;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsForbiddenInName(wchar_t c) {
    return c < 32 || wcschr(L"<>:\"|?*\\/", c) != nullptr;
}

// Names that the system takes for devices, with or without an extension.
bool IsDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (auto& c : base) c = static_cast<wchar_t>(std::towupper(c));
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// One folder name of the cache path, as it comes from the package.
bool CheckLevel(const wchar_t* level, const wchar_t* what, std::wstring* reason) {
    const std::wstring w(what);
    if (!level) return Fail(reason, w + L" is missing");
    const size_t length = qx::BoundedLength(level, MAX_PATH);
    if (length == 0) return Fail(reason, w + L" is empty");
    if (length >= MAX_PATH) return Fail(reason, w + L" is too long");
    const std::wstring name(level, length);
    if (name == L"." || name == L"..") return Fail(reason, w + L" is a relative folder");
    for (wchar_t c : name) {
        if (IsSeparator(c)) return Fail(reason, w + L" holds a path separator");
        if (IsForbiddenInName(c)) return Fail(reason, w + L" holds a character a folder name cannot hold");
    }
    if (name.back() == L'.' || name.back() == L' ') return Fail(reason, w + L" ends in a dot or blank");
    if (IsDeviceName(name)) return Fail(reason, w + L" is a device name");
    return true;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsPlainName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name)
        if (IsForbiddenInName(c)) return false;
    return true;
}

// Length of the root of a fully qualified path: "X:\" or "\\server\share\",
// or 0 when path has no such root ("\\?\" and "\\.\" forms included).
size_t RootLength(const std::wstring& path) {
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\') return 3;
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        const size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos || !IsPlainName(path.substr(2, server - 2))) return 0;
        size_t share = path.find(L'\\', server + 1);
        if (share == std::wstring::npos) share = path.size();
        if (!IsPlainName(path.substr(server + 1, share - server - 1))) return 0;
        return share < path.size() ? share + 1 : share;
    }
    return 0;
}

// The folder names of a path from start on, which must not end in a
// separator: none of them empty, "." or "..", nor holding a wildcard or a
// colon.
bool CheckNames(const std::wstring& path, size_t start, std::wstring* reason) {
    for (;;) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        const std::wstring name = path.substr(start, end - start);
        if (name.empty()) return Fail(reason, L"path holds an empty folder name");
        if (name == L"." || name == L"..") return Fail(reason, L"path holds a relative folder");
        if (!IsPlainName(name)) return Fail(reason, L"path holds a character a folder name cannot hold");
        if (end == path.size()) return true;
        start = end + 1;
    }
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
               CSTR_EQUAL;
}

}  // namespace

bool ValidateCacheFolder(const wchar_t* cacheFolder, const wchar_t* manufacturer, const wchar_t* productName,
                         std::wstring* reason) {
    if (reason) reason->clear();
    wchar_t appData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
        return Fail(reason, L"application data folder not found");
    std::wstring base(appData, qx::BoundedLength(appData, MAX_PATH));
    const size_t root = RootLength(base);
    if (root == 0) return Fail(reason, L"application data folder is not an absolute path");
    if (base.size() > root && base.back() == L'\\') base.pop_back();
    if (base.size() > root && !CheckNames(base, root, reason)) return false;

    if (!CheckLevel(manufacturer, L"manufacturer", reason)) return false;
    if (!CheckLevel(productName, L"product name", reason)) return false;
    // Plain names can still be another vendor's folder: only the product's
    // own identity names the cache.
    if (!EqualIgnoringCase(manufacturer, kManufacturer)) return Fail(reason, L"manufacturer is not the product's own");
    if (!EqualIgnoringCase(productName, kProductName)) return Fail(reason, L"product name is not the product's own");

    if (base.back() != L'\\') base += L'\\';
    const std::wstring expected = base + manufacturer + L'\\' + productName + L'\\';
    if (expected.size() >= MAX_PATH) return Fail(reason, L"cache folder path is too long");

    if (!cacheFolder) return Fail(reason, L"cache folder is missing");
    const std::wstring actual(cacheFolder, qx::BoundedLength(cacheFolder, MAX_PATH));
    if (!EqualIgnoringCase(actual, expected)) return Fail(reason, L"cache folder is not the product's own folder");
    // Holds by construction; checked again because it is the rule itself.
    if (actual.size() <= base.size() || !EqualIgnoringCase(actual.substr(0, base.size()), base))
        return Fail(reason, L"cache folder is not inside the application data folder");
    return true;
}

bool IsEmptiableFolder(const wchar_t* folder, std::wstring* reason) {
    if (reason) reason->clear();
    if (!folder || !folder[0]) return Fail(reason, L"empty path");
    const size_t length = qx::BoundedLength(folder, MAX_PATH);
    // Room for "*.*" and the terminator.
    if (length + 3 >= MAX_PATH) return Fail(reason, L"path too long");
    const std::wstring path(folder, length);
    if (path.back() != L'\\') return Fail(reason, L"path does not end in a backslash");
    const size_t root = RootLength(path);
    if (root == 0) return Fail(reason, L"not an absolute path");
    if (root >= path.size()) return Fail(reason, L"path is a root folder");
    return CheckNames(path.substr(0, path.size() - 1), root, reason);
}
