#include "cache/PendingDeletions.h"

#include <algorithm>

#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/Ownership.h"

namespace {

// A path as it is compared: without the "\??\" or "\\?\" of the system's
// own names, a share's "\\" as the "UNC\" those names give it, and without
// a trailing backslash.
std::wstring Comparable(std::wstring_view path) {
    std::wstring text;
    if (path.starts_with(L"\\??\\") || path.starts_with(L"\\\\?\\")) {
        text = path.substr(4);
    } else if (path.starts_with(L"\\\\")) {
        text = L"UNC\\" + std::wstring(path.substr(2));
    } else {
        text = path;
    }
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    return text;
}

// Whether path is folder itself or lies below it; a folder that shares only
// the start of its last name ("...\Series2") is another folder.
bool IsSameOrInside(const std::wstring& path, const std::wstring& folder) {
    if (path.size() < folder.size() ||
        CompareStringOrdinal(path.data(), static_cast<int>(folder.size()), folder.data(),
                             static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL)
        return false;
    return path.size() == folder.size() || path[folder.size()] == L'\\';
}

// The string that starts at from, up to its NUL or the end of text; from
// moves past it.
std::wstring_view NextString(std::wstring_view text, size_t& from) {
    const size_t stop = std::min(text.find(L'\0', from), text.size());
    const std::wstring_view string = text.substr(from, stop - from);
    from = std::min(stop + 1, text.size());
    return string;
}

}  // namespace

std::wstring WithoutDeletionsUnder(std::wstring_view operations, const std::wstring& folder,
                                   std::vector<std::wstring>* removed) {
    const std::wstring under = Comparable(folder);
    // A drive's root or a bare name would take out far more than a folder.
    const bool usable = under.find(L'\\') != std::wstring::npos;
    std::wstring kept;
    size_t at = 0;
    // The list ends at an empty source.
    while (at < operations.size() && operations[at] != L'\0') {
        const size_t pair = at;
        const std::wstring_view source = NextString(operations, at);
        if (at >= operations.size()) {
            // A source with no destination after it: not known to be a
            // deletion, so it stays as it stands.
            at = pair;
            break;
        }
        const std::wstring_view destination = NextString(operations, at);
        if (usable && destination.empty() && IsSameOrInside(Comparable(source), under)) {
            if (removed) removed->emplace_back(source);
        } else {
            kept.append(operations.substr(pair, at - pair));
        }
    }
    kept.append(operations.substr(at));
    if (kept.find_first_not_of(L'\0') == std::wstring::npos) kept.clear();
    return kept;
}

void CancelDeletionsUnder(const wchar_t* folder) {
    if (!folder || !folder[0]) return;
    qx::UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key.get(), kPendingRenamesValue, nullptr, &type, nullptr, &size);
    std::vector<wchar_t> data;
    bool whole = false;
    // Another installer may add to the value between two reads.
    for (int attempt = 0; status == ERROR_SUCCESS && !whole && attempt < 4; ++attempt) {
        data.assign(size / sizeof(wchar_t) + 1, L'\0');
        DWORD read = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = RegQueryValueExW(key.get(), kPendingRenamesValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                  &read);
        whole = status == ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) status = ERROR_SUCCESS;
        size = read;
    }
    if (status == ERROR_FILE_NOT_FOUND) return;
    if (!whole) {
        LogError(L"Pending deletions not read: %s", folder);
        LogSystemError(static_cast<DWORD>(status != ERROR_SUCCESS ? status : ERROR_MORE_DATA));
        return;
    }
    // Not the form the system writes: not ours to rewrite.
    if (type != REG_MULTI_SZ) return;

    std::vector<std::wstring> removed;
    const std::wstring kept =
        WithoutDeletionsUnder(std::wstring_view(data.data(), size / sizeof(wchar_t)), folder, &removed);
    if (removed.empty()) return;
    status = kept.empty() ? RegDeleteValueW(key.get(), kPendingRenamesValue)
                          : RegSetValueExW(key.get(), kPendingRenamesValue, 0, REG_MULTI_SZ,
                                           reinterpret_cast<const BYTE*>(kept.data()),
                                           static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        LogError(L"Pending deletions not taken out: %s", folder);
        LogSystemError(static_cast<DWORD>(status));
        return;
    }
    for (const std::wstring& source : removed) LogTrace(L"Pending deletion taken out: %s", source.c_str());
}
