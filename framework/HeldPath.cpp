#include "framework/HeldPath.h"

#include "framework/FileLinks.h"

namespace qx {

size_t RootLength(const std::wstring& path) {
    if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') return 3;
    if (path.size() < 5 || path[0] != L'\\' || path[1] != L'\\') return 0;
    const size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2) return 0;
    const size_t share = path.find(L'\\', server + 1);
    if (share == std::wstring::npos || share == server + 1) return 0;
    return share + 1;
}

DWORD HoldPathOf(HANDLE file, std::wstring& path, HeldFolders& folders) {
    folders.levels.clear();
    path = FinalPath(file);
    const size_t root = RootLength(path);
    // The callers name paths in buffers of MAX_PATH characters.
    if (root == 0 || path.size() >= MAX_PATH || path.back() == L'\\') return kPathNotHeld;

    HeldFolders held;
    for (size_t slash = path.find(L'\\', root); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1)) {
        const std::wstring folder = path.substr(0, slash);
        // Listing rights make the handle count for sharing: nobody may
        // open the folder for deletion (a rename) while it is held.
        UniqueHandle level = OpenEntry(folder.c_str(), FILE_LIST_DIRECTORY);
        if (!level) {
            const DWORD error = GetLastError();
            return error == ERROR_SUCCESS ? kPathNotHeld : error;
        }
        bool isFolder = false;
        if (CheckEntry(level.get(), folder, &isFolder) != EntryCheck::kItself || !isFolder) return kPathNotHeld;
        held.levels.push_back(std::move(level));
    }
    // A folder renamed before it was held moved the file with it.
    if (CheckEntry(file, path) != EntryCheck::kItself) return kPathNotHeld;
    folders = std::move(held);
    return ERROR_SUCCESS;
}

}  // namespace qx
