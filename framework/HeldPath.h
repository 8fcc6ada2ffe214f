#pragma once
// A path that nobody can send elsewhere while it is held. A file checked
// through its handle is then started, loaded or installed by its path,
// which the system resolves again: a folder of that path that is a link
// (a junction, a symbolic link), or that is renamed and replaced, would
// lead to another file. So the path used is the one the checked handle
// resolves to, with every folder on it, from the volume's root down, held
// open without delete sharing (it cannot be renamed, deleted or replaced)
// and checked through its handle to be a folder of its own at that path,
// no link. A folder that holds a file cannot be turned into a junction
// either: only an empty folder can become one.
#include <windows.h>

#include <string>
#include <vector>

#include "framework/Ownership.h"

namespace qx {

// Raised for a path whose folders did not stay where they were while they
// were taken hold of, or which the system does not resolve to a plain
// folder path: ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot
// be resolved by the system."
constexpr DWORD kPathNotHeld = ERROR_CANT_RESOLVE_FILENAME;

struct HeldFolders {
    // From the first level below the volume's root down to the file's folder.
    std::vector<UniqueHandle> levels;
};

// Takes hold of the folders of the path the open file resolves to. path
// receives that path ("C:\..." or "\\server\share\..."), at most
// MAX_PATH - 1 characters. 0 on success; kPathNotHeld, or why a folder
// could not be opened.
DWORD HoldPathOf(HANDLE file, std::wstring& path, HeldFolders& folders);

// The length of the root of a resolved path: 3 for "C:\", up to and with
// the backslash after the share for "\\server\share\"; 0 when it is neither.
size_t RootLength(const std::wstring& path);

}  // namespace qx
