#pragma once
// Filling the cache folder from the install source, and emptying it.
#include <windows.h>

// Copies, at every level of source, each "*.dll" entry (files replacing
// what is there, folders created and copied by the same rules), then the
// two launcher files. Entries whose paths do not fit MAX_PATH, and entries
// that would copy a folder into itself, are skipped. Nothing is checked or
// reported; the result is always true.
bool CopyInstallSource(const wchar_t* source, const wchar_t* destination);

// Deletes everything inside cacheFolder (a path ending in a backslash),
// permanently and without any window; the folder itself stays, and so do
// entries in use. A folder that IsEmptiableFolder refuses is left alone and
// an ERROR record says why.
void DeleteInstallSourceCache(const wchar_t* cacheFolder);
