#include "cache/CacheCopy.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "app/ProductIdentity.h"
#include "cache/CacheFolderGuard.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"

namespace {

// Joins name onto folder. False when the whole path does not fit: a cut
// path would name a different file.
bool JoinPath(wchar_t (&out)[MAX_PATH], const wchar_t* folder, const wchar_t* name) {
    out[0] = L'\0';
    const size_t folderLength = qx::BoundedLength(folder, MAX_PATH);
    const size_t nameLength = qx::BoundedLength(name, MAX_PATH);
    const bool separator = folderLength > 0 && folder[folderLength - 1] != L'\\';
    if (folderLength + separator + nameLength >= MAX_PATH) return false;
    if (!qx::BoundedCopy(out, MAX_PATH, folder)) return false;
    if (!PathAppendW(out, name)) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

// A path in one spelling for comparisons: full, long names, lower case, no
// trailing backslash except a root's. Empty when it cannot be had.
std::wstring Canonical(const wchar_t* path) {
    wchar_t full[MAX_PATH] = {};
    DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return L"";
    wchar_t longForm[MAX_PATH] = {};
    n = GetLongPathNameW(full, longForm, MAX_PATH);
    std::wstring text = (n > 0 && n < MAX_PATH) ? longForm : full;
    while (text.size() > 3 && text.back() == L'\\') text.pop_back();
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// Whether inner is outer itself or lies below it. Unknown spellings count
// as inside, so that a doubtful entry is skipped rather than copied.
bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer) {
    if (inner.empty() || outer.empty()) return true;
    if (inner.compare(0, outer.size(), outer) != 0) return false;
    return inner.size() == outer.size() || outer.back() == L'\\' || inner[outer.size()] == L'\\';
}

void CopyOneFile(const wchar_t* source, const wchar_t* destination) {
    if (Canonical(source) == Canonical(destination)) return;
    CopyFileW(source, destination, FALSE);
}

void CopyLevel(const wchar_t* source, const wchar_t* destination) {
    wchar_t pattern[MAX_PATH];
    HANDLE search = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW entry = {};
    if (JoinPath(pattern, source, L"*.dll")) search = FindFirstFileW(pattern, &entry);

    SHCreateDirectoryExW(nullptr, destination, nullptr);
    // Taken after the creation, so that the long form of the name exists.
    const std::wstring target = Canonical(destination);

    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
            wchar_t from[MAX_PATH];
            wchar_t to[MAX_PATH];
            if (!JoinPath(from, source, entry.cFileName) || !JoinPath(to, destination, entry.cFileName)) continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A destination inside this folder would be copied into
                // itself, deeper at every pass.
                if (IsSameOrInside(target, Canonical(from))) continue;
                CreateDirectoryW(to, nullptr);
                CopyLevel(from, to);
            } else {
                CopyOneFile(from, to);
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }

    for (const wchar_t* launcher : {kLauncherFile32, kLauncherFile64}) {
        wchar_t from[MAX_PATH];
        wchar_t to[MAX_PATH];
        if (JoinPath(from, source, launcher) && JoinPath(to, destination, launcher)) CopyOneFile(from, to);
    }
}

}  // namespace

bool CopyInstallSource(const wchar_t* source, const wchar_t* destination) {
    if (!source || !source[0] || !destination || !destination[0]) return true;
    if (qx::BoundedLength(source, MAX_PATH) >= MAX_PATH || qx::BoundedLength(destination, MAX_PATH) >= MAX_PATH)
        return true;
    // The same folder under two spellings: every copy would be onto itself.
    const std::wstring from = Canonical(source);
    if (from.empty() || from == Canonical(destination)) return true;
    CopyLevel(source, destination);
    return true;
}

namespace {

void DeleteEntriesOneByOne(const wchar_t* folder) {
    wchar_t pattern[MAX_PATH] = {};
    qx::BoundedCopy(pattern, MAX_PATH, folder);
    if (!PathAppendW(pattern, L"*")) return;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (lstrcmpW(entry.cFileName, L".") == 0 || lstrcmpW(entry.cFileName, L"..") == 0) continue;
        wchar_t item[MAX_PATH + 1] = {};   // the extra NUL ends the shell's list
        qx::BoundedCopy(item, MAX_PATH, folder);
        if (!PathAppendW(item, entry.cFileName)) continue;   // never a shortened, different path
        SHFILEOPSTRUCTW operation = {};
        operation.wFunc = FO_DELETE;
        operation.pFrom = item;
        operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
        SHFileOperationW(&operation);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

}  // namespace

void DeleteInstallSourceCache(const wchar_t* cacheFolder) {
    LogTrace(L"In DeleteInstallSourceCache");
    std::wstring reason;
    if (!IsEmptiableFolder(cacheFolder, &reason)) {
        LogError(L"DeleteInstallSourceCache : refused, %s", reason.c_str());
        return;
    }
    // One character more than a path: the list the shell takes ends in two
    // NULs whatever the caller's buffer holds after the text.
    wchar_t pattern[MAX_PATH + 1] = {};
    qx::BoundedCopy(pattern, MAX_PATH, cacheFolder);
    if (!PathAppendW(pattern, L"*.*")) {
        LogError(L"DeleteInstallSourceCache : refused, pattern does not fit");
        return;
    }
    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = pattern;
    operation.pTo = nullptr;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    operation.fAnyOperationsAborted = FALSE;
    // The shell stops at the first entry it cannot delete, such as a module
    // the launcher has loaded when it runs from the cache after a restart:
    // then the rest goes one entry at a time, so only entries in use stay.
    if (SHFileOperationW(&operation) != 0) DeleteEntriesOneByOne(cacheFolder);
}
