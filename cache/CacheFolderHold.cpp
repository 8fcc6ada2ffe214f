#include "cache/CacheFolderHold.h"

#include <shlobj.h>

#include "framework/BoundedText.h"
#include "framework/FileLinks.h"
#include "framework/FolderSecurity.h"

namespace {

bool Fail(std::wstring* reason, const std::wstring& text) {
    if (reason) *reason = text;
    return false;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
               CSTR_EQUAL;
}

// The two level names of cacheFolder below base, or false.
bool SplitLevels(const std::wstring& base, const std::wstring& cacheFolder, std::wstring (&names)[2]) {
    std::wstring prefix = base;
    if (prefix.empty() || prefix.back() != L'\\') prefix += L'\\';
    if (cacheFolder.size() <= prefix.size() || !EqualIgnoringCase(cacheFolder.substr(0, prefix.size()), prefix) ||
        cacheFolder.back() != L'\\')
        return false;
    const std::wstring rest = cacheFolder.substr(prefix.size(), cacheFolder.size() - prefix.size() - 1);
    const size_t separator = rest.find(L'\\');
    if (separator == std::wstring::npos || separator == 0 || separator + 1 >= rest.size() ||
        rest.find(L'\\', separator + 1) != std::wstring::npos)
        return false;
    names[0] = rest.substr(0, separator);
    names[1] = rest.substr(separator + 1);
    return true;
}

// Creates one level with the protected descriptor; a token that may not
// make Administrators the owner leaves the owner to the system.
bool CreateLevel(const std::wstring& path) {
    qx::UniqueLocal withOwner = qx::BuildCacheFolderDescriptor(true);
    if (withOwner && qx::CreateFolderWith(path.c_str(), withOwner.get())) return true;
    if (GetLastError() != ERROR_INVALID_OWNER) return false;
    qx::UniqueLocal withoutOwner = qx::BuildCacheFolderDescriptor(false);
    return withoutOwner && qx::CreateFolderWith(path.c_str(), withoutOwner.get());
}

}  // namespace

bool HoldCacheFolder(const wchar_t* cacheFolder, bool createMissing, CacheFolderHold& hold, std::wstring* reason) {
    hold = CacheFolderHold();
    wchar_t base[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)))
        return Fail(reason, L"common application data folder not found");
    std::wstring names[2];
    if (!cacheFolder || !SplitLevels(base, std::wstring(cacheFolder, qx::BoundedLength(cacheFolder, MAX_PATH)), names))
        return Fail(reason, L"cache folder is not two levels below the common application data folder");

    // The base is the system's, wherever it resolves to; every level below
    // must be a folder of its own at the path its parent resolves to.
    qx::UniqueHandle parent = qx::OpenEntry(base);
    std::wstring parentPath = parent ? qx::FinalPath(parent.get()) : L"";
    if (parentPath.empty()) return Fail(reason, L"common application data folder cannot be opened");

    CacheFolderHold held;
    held.trusted = true;
    const wchar_t* what[2] = {L"manufacturer level", L"product level"};
    for (int i = 0; i < 2; ++i) {
        const std::wstring path = qx::JoinName(parentPath, names[i]);
        // Reading the listing makes the handle count for sharing: a handle
        // with rights to the attributes or the descriptor alone does not
        // keep others from renaming the folder.
        const DWORD access = FILE_LIST_DIRECTORY | READ_CONTROL | (i == 1 ? WRITE_DAC | WRITE_OWNER : 0);
        bool created = false;
        qx::UniqueHandle level = qx::OpenEntry(path.c_str(), access);
        if (!level && createMissing && GetLastError() == ERROR_FILE_NOT_FOUND) {
            // A level that appears meanwhile is taken as found, not as made.
            created = CreateLevel(path);
            level = qx::OpenEntry(path.c_str(), access);
        }
        if (!level) return Fail(reason, std::wstring(what[i]) + L" cannot be opened");
        bool isFolder = false;
        const qx::EntryCheck check = qx::CheckEntry(level.get(), path, &isFolder);
        if (check == qx::EntryCheck::kLinkItself || check == qx::EntryCheck::kElsewhere)
            return Fail(reason, std::wstring(what[i]) + L" is a link");
        if (check != qx::EntryCheck::kItself || !isFolder)
            return Fail(reason, std::wstring(what[i]) + L" is not a folder");

        // Trusted only when nobody else can write to it, delete in it or
        // change its rights: its owner and every allowing entry count.
        std::wstring why;
        if (!created && held.trusted && !qx::OnlyAdministratorsCanChangeEntry(level.get(), &why)) {
            held.trusted = false;
            held.distrust = std::wstring(what[i]) + L" " + why;
        }
        // The manufacturer's level may be shared with its other products
        // and keeps its rights; the product's own level gets the protected
        // descriptor again, whoever changed it since.
        if (i == 1 && !created && held.trusted) {
            qx::UniqueLocal descriptor = qx::BuildCacheFolderDescriptor(true);
            if (!descriptor || !qx::ApplyDescriptor(level.get(), descriptor.get())) {
                held.trusted = false;
                held.distrust = L"product level cannot be given its protected access rights";
            }
        }
        parentPath = path;
        held.levels.push_back(std::move(level));
    }
    hold = std::move(held);
    return true;
}
