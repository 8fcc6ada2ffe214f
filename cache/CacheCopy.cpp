#include "cache/CacheCopy.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "res/ProductIdentity.h"
#include "cache/CacheFolderGuard.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/FileLinks.h"
#include "framework/SystemMessage.h"

namespace {

// Folders below the cache folder are copied this deep at most.
constexpr int kMaxDepth = 32;
// The copy is written beside its destination under this suffix, then
// renamed over it.
constexpr wchar_t kNewFileSuffix[] = L".qxnew";

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

// "Install source cache: <what> <path>" and the system's text for error,
// as ERROR records (a long path is cut into pieces, never dropped).
void LogCopyFailure(const wchar_t* what, const std::wstring& path, DWORD error) {
    std::wstring text = L"Install source cache: ";
    text += what;
    text += L" ";
    text += path;
    text += L"\n Code: " + std::to_wstring(error) + L"\nMsg: ";
    const std::wstring system = qx::SystemMessage(error);
    text += system.empty() ? L"Unkown Error" : system;
    LogErrorText(text.c_str());
}

// Takes the read-only, hidden and system attributes off the file at path
// (a copy from a read-only medium keeps them): the cache's copies are its
// own, to be replaced and deleted. Only through a handle checked to hold
// that very file, never through a link. False when nothing was changed.
bool MakeCacheOwn(const std::wstring& path) {
    constexpr DWORD kForeign = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    qx::UniqueHandle file;
    std::wstring finalPath;
    bool isFolder = true;
    if (qx::OpenChecked(path, FILE_WRITE_ATTRIBUTES, file, finalPath, &isFolder) != qx::EntryCheck::kItself || isFolder)
        return false;
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & kForeign))
        return false;
    basic.FileAttributes &= ~kForeign;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    // Zero times leave the times as they are.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    return SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic) != FALSE;
}

// Writes the copy under a new name beside the destination, then renames it
// over the destination: a rename replaces the entry itself, so whatever
// stands there, a link included, is never written through.
void CopyOneFile(const wchar_t* source, const std::wstring& destination) {
    const std::wstring fresh = destination + kNewFileSuffix;
    if (fresh.size() >= MAX_PATH) return;
    // The copy never replaces anything, so it fails rather than write
    // through a link. Only then is a leftover of an interrupted copy looked
    // at and removed: the usual new name costs no check of its own.
    if (!CopyFileW(source, fresh.c_str(), TRUE)) {
        DWORD error = GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || !qx::RemoveEntryAt(fresh, false) ||
            !CopyFileW(source, fresh.c_str(), TRUE)) {
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) error = GetLastError();
            LogCopyFailure(L"not written:", destination, error);
            // A copy cut short (a full volume) leaves its new file behind.
            qx::RemoveEntryAt(fresh, false);
            return;
        }
    }
    MakeCacheOwn(fresh);
    if (MoveFileExW(fresh.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
    DWORD error = GetLastError();
    // A link stands there (removed as an entry), or a read-only copy an
    // earlier run left: neither is replaced by a rename.
    if ((qx::RemoveEntryAt(destination, true) || MakeCacheOwn(destination)) &&
        MoveFileExW(fresh.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    if (error == ERROR_SUCCESS) error = GetLastError();
    LogCopyFailure(L"not replaced:", destination, error);
    qx::RemoveEntryAt(fresh, false);
}

// The file at copy, opened for reading without following a link and checked
// to be itself, a file; false when it is not.
bool OpenCopy(const std::wstring& copy, qx::UniqueHandle& held) {
    std::wstring finalPath;
    bool isFolder = true;
    return qx::OpenChecked(copy, FILE_READ_DATA, held, finalPath, &isFolder) == qx::EntryCheck::kItself && !isFolder;
}

// Whether the held copy holds the same bytes as the file at original.
bool SameContent(const std::wstring& original, HANDLE copy) {
    qx::UniqueHandle from(CreateFileW(original.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER a = {}, b = {};
    if (!from || !GetFileSizeEx(from.get(), &a) || !GetFileSizeEx(copy, &b) || a.QuadPart != b.QuadPart)
        return false;
    std::vector<char> x(64 * 1024), y(64 * 1024);
    for (;;) {
        DWORD nx = 0, ny = 0;
        if (!ReadFile(from.get(), x.data(), static_cast<DWORD>(x.size()), &nx, nullptr) ||
            !ReadFile(copy, y.data(), static_cast<DWORD>(y.size()), &ny, nullptr) || nx != ny)
            return false;
        if (nx == 0) return true;
        if (memcmp(x.data(), y.data(), nx) != 0) return false;
    }
}

// The destination folder for a level: created when missing, and used only
// when it is a folder of its own. finalPath receives its resolved path.
bool OpenDestination(const std::wstring& path, bool createParents, qx::UniqueHandle& folder, std::wstring& finalPath) {
    bool isFolder = false;
    qx::EntryCheck check = qx::OpenChecked(path, FILE_LIST_DIRECTORY, folder, finalPath, &isFolder);
    if (check == qx::EntryCheck::kLinkItself) {
        folder.reset();
        if (qx::RemoveEntryAt(path, true)) check = qx::EntryCheck::kUnknown;
    }
    if (check == qx::EntryCheck::kUnknown && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (createParents) {
            SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
        } else {
            CreateDirectoryW(path.c_str(), nullptr);
        }
        check = qx::OpenChecked(path, FILE_LIST_DIRECTORY, folder, finalPath, &isFolder);
    }
    if (check == qx::EntryCheck::kItself && isFolder) return true;
    if (check == qx::EntryCheck::kLinkItself || check == qx::EntryCheck::kElsewhere)
        LogError(L"Install source cache: link not followed: %s", path.c_str());
    folder.reset();
    return false;
}

void CopyLevel(const wchar_t* source, const wchar_t* destination, bool createParents, int depth) {
    wchar_t pattern[MAX_PATH];
    qx::UniqueFind search;
    WIN32_FIND_DATAW entry = {};
    if (JoinPath(pattern, source, L"*.dll")) search.reset(FindFirstFileW(pattern, &entry));

    // Held open while this level is filled, so it cannot be swapped.
    qx::UniqueHandle held;
    std::wstring target;
    if (!OpenDestination(destination, createParents, held, target)) return;
    const std::wstring self = Canonical(destination);

    if (search) {
        do {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
            wchar_t from[MAX_PATH];
            const std::wstring to = qx::JoinName(target, entry.cFileName);
            if (!JoinPath(from, source, entry.cFileName) || to.size() >= MAX_PATH) continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A destination inside this folder would be copied into
                // itself, deeper at every pass.
                if (depth >= kMaxDepth || IsSameOrInside(self, Canonical(from))) continue;
                CopyLevel(from, to.c_str(), false, depth + 1);
            } else {
                CopyOneFile(from, to);
            }
        } while (FindNextFileW(search.get(), &entry));
    }

    for (const wchar_t* launcher : {kLauncherFile32, kLauncherFile64}) {
        wchar_t from[MAX_PATH];
        if (JoinPath(from, source, launcher) && GetFileAttributesW(from) != INVALID_FILE_ATTRIBUTES)
            CopyOneFile(from, qx::JoinName(target, launcher));
    }
}

}  // namespace

const wchar_t* const kResumeFiles[] = {kLauncherFile64, kInstallActionsFile, kCustomActionDataFile,
                                       kResourceModuleFile, kErrorModuleFile};
const size_t kResumeFileCount = sizeof kResumeFiles / sizeof kResumeFiles[0];

bool CacheIsWhole(const wchar_t* source, const wchar_t* folder, std::wstring* lacking) {
    std::wstring missing;
    for (size_t i = 0; i < kResumeFileCount; ++i) {
        wchar_t copy[MAX_PATH], original[MAX_PATH];
        qx::UniqueHandle held;
        const bool present = JoinPath(copy, folder, kResumeFiles[i]) && OpenCopy(copy, held) &&
                             (!source || (JoinPath(original, source, kResumeFiles[i]) && SameContent(original, held.get())));
        if (!present) missing += (missing.empty() ? L"" : L", ") + std::wstring(kResumeFiles[i]);
    }
    if (lacking) *lacking = missing;
    return missing.empty();
}

bool CopyInstallSource(const wchar_t* source, const wchar_t* destination, std::wstring* lacking) {
    if (lacking) *lacking = L"no copy made";
    if (!source || !source[0] || !destination || !destination[0]) return false;
    if (qx::BoundedLength(source, MAX_PATH) >= MAX_PATH || qx::BoundedLength(destination, MAX_PATH) >= MAX_PATH)
        return false;
    // The same folder under two spellings: every copy would be onto itself.
    const std::wstring from = Canonical(source);
    if (from.empty() || from == Canonical(destination)) return false;
    CopyLevel(source, destination, true, 0);
    return CacheIsWhole(source, destination, lacking);
}

namespace {

// Refusals that mean the entry is in use: open elsewhere without delete
// sharing, or mapped as a running program or a loaded module, which the
// system refuses to delete as access denied.
bool InUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE ||
           error == ERROR_LOCK_VIOLATION;
}

// Asks the system to delete path at the next restart; true when it will.
bool DeleteAtNextRestart(const std::wstring& path) {
    if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogCopyFailure(L"not deleted at the next restart:", path, GetLastError());
        return false;
    }
    LogTrace(L"Deletion at the next restart: %s", path.c_str());
    return true;
}

// Deletes what lies in the folder (held open by the caller, at path), one
// entry at a time, each checked through the handle it is deleted with: a
// link is removed as an entry, never entered; an entry that resolves
// elsewhere is left alone; entries in use stay. The names are read
// through the held handle, not looked up again by path. With atRestart, an
// entry in use that is itself, and a folder that keeps such entries, is
// deleted at the next restart instead, its contents before it. True when
// anything was left for the restart.
bool EmptyFolder(HANDLE folder, const std::wstring& path, int depth, bool atRestart) {
    bool left = false;
    std::vector<std::wstring> names;
    qx::ListFolder(folder, names);
    for (const std::wstring& name : names) {
        const std::wstring item = qx::JoinName(path, name);
        if (item.size() >= MAX_PATH) continue;
        qx::UniqueHandle handle = qx::OpenEntry(item.c_str(), DELETE | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY);
        DWORD refused = handle ? ERROR_SUCCESS : GetLastError();
        if (!handle && atRestart && refused == ERROR_SHARING_VIOLATION) {
            // Open elsewhere: still checked, through a handle that lists a
            // folder, or one to the attributes alone, which counts for no
            // sharing.
            handle = qx::OpenEntry(item.c_str(), FILE_LIST_DIRECTORY);
            if (!handle) handle = qx::OpenEntry(item.c_str());
        }
        if (!handle) continue;   // gone, or in use
        bool isFolder = false;
        switch (qx::CheckEntry(handle.get(), item, &isFolder)) {
            case qx::EntryCheck::kItself: {
                if (isFolder && depth >= kMaxDepth) break;
                const bool keeps = isFolder && EmptyFolder(handle.get(), item, depth + 1, atRestart);
                if (refused == ERROR_SUCCESS && !qx::DeleteThroughHandle(handle.get())) refused = GetLastError();
                if (atRestart && refused != ERROR_SUCCESS && (keeps || InUse(refused)))
                    left = DeleteAtNextRestart(item) || left;
                break;
            }
            case qx::EntryCheck::kLinkItself:
                if (refused == ERROR_SUCCESS) qx::DeleteThroughHandle(handle.get());
                break;
            case qx::EntryCheck::kElsewhere:
                LogError(L"DeleteInstallSourceCache : link left in place, not followed: %s", item.c_str());
                break;
            case qx::EntryCheck::kUnknown:
                break;
        }
    }
    return left;
}

}  // namespace

void DeleteInstallSourceCache(const wchar_t* cacheFolder) {
    LogTrace(L"In DeleteInstallSourceCache");
    std::wstring reason;
    if (!IsEmptiableFolder(cacheFolder, &reason)) {
        LogError(L"DeleteInstallSourceCache : refused, %s", reason.c_str());
        return;
    }
    // Held open while it is emptied, so it cannot be swapped for a link.
    qx::UniqueHandle folder;
    std::wstring path;
    bool isFolder = false;
    if (qx::OpenChecked(cacheFolder, FILE_LIST_DIRECTORY, folder, path, &isFolder) != qx::EntryCheck::kItself ||
        !isFolder) {
        LogError(L"DeleteInstallSourceCache : refused, not a folder of its own");
        return;
    }
    // The system deletes at the restart without the checks made here: only
    // the product's own cache has entries deleted that way.
    const bool atRestart = ValidateCacheFolder(cacheFolder, kManufacturer, kProductName, nullptr);
    // The folder goes after what it keeps; the manufacturer's level may
    // hold its other products.
    if (EmptyFolder(folder.get(), path, 0, atRestart)) DeleteAtNextRestart(path);
}
