#include "framework/FileLinks.h"

namespace qx {

namespace {

std::wstring WithoutTrailingBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
               CSTR_EQUAL;
}

}  // namespace

UniqueHandle OpenEntry(const wchar_t* path, DWORD access) {
    if (!path || !path[0]) return UniqueHandle();
    return UniqueHandle(CreateFileW(path, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

std::wstring FinalPath(HANDLE entry) {
    wchar_t buffer[2 * MAX_PATH];
    const DWORD n = GetFinalPathNameByHandleW(entry, buffer, 2 * MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= 2 * MAX_PATH) return L"";
    std::wstring path(buffer, n);
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + path.substr(7);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

EntryCheck CheckEntry(HANDLE entry, const std::wstring& expectedPath, bool* isFolder) {
    // The attributes alone: the full file information also reads the
    // volume's serial number, which costs a hundred times more here.
    FILE_BASIC_INFO info = {};
    if (!GetFileInformationByHandleEx(entry, FileBasicInfo, &info, sizeof info)) return EntryCheck::kUnknown;
    const std::wstring final = FinalPath(entry);
    if (final.empty()) return EntryCheck::kUnknown;
    if (!EqualIgnoringCase(WithoutTrailingBackslash(final), WithoutTrailingBackslash(expectedPath)))
        return EntryCheck::kElsewhere;
    if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryCheck::kLinkItself;
    if (isFolder) *isFolder = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return EntryCheck::kItself;
}

EntryCheck OpenChecked(const std::wstring& path, DWORD access, UniqueHandle& entry, std::wstring& finalPath,
                       bool* isFolder) {
    entry.reset();
    finalPath.clear();
    const std::wstring trimmed = WithoutTrailingBackslash(path);
    const size_t slash = trimmed.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= trimmed.size()) return EntryCheck::kUnknown;
    std::wstring parent = trimmed.substr(0, slash + 1);
    UniqueHandle parentHandle = OpenEntry(parent.c_str());
    const std::wstring parentFinal = parentHandle ? FinalPath(parentHandle.get()) : L"";
    if (parentFinal.empty()) return EntryCheck::kUnknown;
    entry = OpenEntry(trimmed.c_str(), access);
    if (!entry) return EntryCheck::kUnknown;
    finalPath = JoinName(parentFinal, trimmed.substr(slash + 1));
    return CheckEntry(entry.get(), finalPath, isFolder);
}

bool ListFolder(HANDLE folder, std::vector<std::wstring>& names, size_t maxNames) {
    names.clear();
    alignas(8) BYTE buffer[16 * 1024];
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, kind, buffer, sizeof buffer))
            return GetLastError() == ERROR_NO_MORE_FILES;
        kind = FileFullDirectoryInfo;
        for (const BYTE* at = buffer;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                if (names.size() >= maxNames) return false;
                names.push_back(std::move(name));
            }
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

std::wstring JoinName(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

bool RemoveEntryAt(const std::wstring& path, bool linksOnly) {
    UniqueHandle entry;
    std::wstring final;
    bool isFolder = false;
    const EntryCheck check = OpenChecked(path, DELETE | FILE_WRITE_ATTRIBUTES, entry, final, &isFolder);
    const bool removable = check == EntryCheck::kLinkItself || (!linksOnly && check == EntryCheck::kItself && !isFolder);
    // The deletion happens as the handle closes.
    return removable && DeleteThroughHandle(entry.get());
}

bool DeleteThroughHandle(HANDLE entry) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition)) return true;
    const DWORD refused = GetLastError();
    // A file copied from a read-only medium keeps that attribute.
    FILE_BASIC_INFO basic = {};
    if (refused != ERROR_ACCESS_DENIED || !GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(refused);
        return false;
    }
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic) &&
           SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace qx
