#pragma once
// Keeps the cache copy and its removal to the product's own cache folder.
// The package's texts and the shell's answers are not trusted: a level such
// as "..", "C:" or "C:\x" joined onto a path leads somewhere else entirely,
// and a failed folder lookup leaves the bare "\" of the current drive's root.
#include <windows.h>

#include <string>

// True only when cacheFolder is exactly (ignoring case) the common
// application-data folder, then manufacturer, then productName, then a
// backslash, within MAX_PATH characters; each level must be one plain
// folder name, and the two must be the product's own manufacturer and
// product name (ignoring case). Otherwise false, with a short reason when reason is given.
bool ValidateCacheFolder(const wchar_t* cacheFolder, const wchar_t* manufacturer, const wchar_t* productName,
                         std::wstring* reason);

// True when folder may have its contents deleted at all: an absolute path
// of a drive or a network share, below its root, ending in a backslash,
// without "." or ".." or wildcard characters, and short enough to take
// "*.*". Otherwise false, with a short reason when reason is given.
bool IsEmptiableFolder(const wchar_t* folder, std::wstring* reason);
