#pragma once
// Telling an entry from a link that stands in its place. A folder or file
// link (junction, symbolic link, mount point) can send a write or a
// deletion somewhere else entirely, so the launcher opens what it acts on
// without following a link where the system allows that, and then checks
// through the open handle that it holds the entry it meant: not a reparse
// point, and at the path it meant. The second check also catches links that
// a file system follows even when asked not to.
#include <windows.h>

#include <string>
#include <vector>

#include "framework/Ownership.h"

namespace qx {

// Opens an existing entry, file or folder, without following a link at its
// last component. Others may read and write it meanwhile but not rename or
// delete it, so a held folder cannot be swapped for another; that holds
// only when access names data or DELETE rights (FILE_LIST_DIRECTORY for a
// folder): a handle to attributes alone does not count for sharing.
// access adds to FILE_READ_ATTRIBUTES | SYNCHRONIZE.
UniqueHandle OpenEntry(const wchar_t* path, DWORD access = 0);

// The path the system resolves the handle to, as "C:\..." or
// "\\server\share\..."; empty when it cannot be had.
std::wstring FinalPath(HANDLE entry);

enum class EntryCheck {
    kItself,      // the entry meant, at the path meant, and no link
    kLinkItself,  // a link, and the handle holds the link itself: deleting
                  // through it removes the link and nothing else
    kElsewhere,   // the handle resolved to another path: never act on it
    kUnknown,     // nothing could be read through the handle
};

// What entry is, against expectedPath (compared ignoring case, without a
// trailing backslash). isFolder is set for kItself.
EntryCheck CheckEntry(HANDLE entry, const std::wstring& expectedPath, bool* isFolder = nullptr);

// Opens path (which need not be spelled as the system resolves it) and
// checks that its last level is itself, at the path its parent resolves
// to. finalPath receives that path. kUnknown also when it cannot be opened.
EntryCheck OpenChecked(const std::wstring& path, DWORD access, UniqueHandle& entry, std::wstring& finalPath,
                       bool* isFolder = nullptr);

// The names in the folder behind the handle (opened with
// FILE_LIST_DIRECTORY), read through that handle, without "." and "..".
// At most maxNames; false when the listing could not be read to its end.
bool ListFolder(HANDLE folder, std::vector<std::wstring>& names, size_t maxNames = 100000);

// Joins a name onto a folder path with one backslash between them.
std::wstring JoinName(const std::wstring& folder, const std::wstring& name);

// Removes the file or link at path, never anything a link points at: only
// an entry that the handle holds itself is deleted (a plain file, or a link
// where the system opens the link itself). linksOnly leaves plain files.
// False when nothing was removed.
bool RemoveEntryAt(const std::wstring& path, bool linksOnly);

// Deletes the entry behind the handle when it is closed: the handle must
// have been opened with DELETE access and checked. A read-only file has its
// attribute cleared first (needs FILE_WRITE_ATTRIBUTES). False when refused,
// with the refusal as the last error: ERROR_ACCESS_DENIED for a running
// program or a loaded module, ERROR_DIR_NOT_EMPTY for a folder that is not
// empty.
bool DeleteThroughHandle(HANDLE entry);

}  // namespace qx
