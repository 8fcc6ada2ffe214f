#pragma once
// Filling the cache folder from the install source, and emptying it.
#include <windows.h>

#include <string>

// The files a run resumed from the cache needs: a whole cache holds each,
// equal to its source.
extern const wchar_t* const kResumeFiles[];
extern const size_t kResumeFileCount;

// Copies, at every level of source, each "*.dll" entry (files replacing
// what is there, folders created and copied by the same rules), then the
// two launcher files. Entries whose paths do not fit MAX_PATH, and entries
// that would copy a folder into itself, are skipped. Each file that could
// not be written or put in place leaves an ERROR record with its name and
// the system's text. True when the cache is whole: every file of
// kResumeFiles is in destination and equal to its source in size and
// content, read back without following a link; otherwise lacking (when
// given) names what is missing or differs.
bool CopyInstallSource(const wchar_t* source, const wchar_t* destination, std::wstring* lacking = nullptr);

// Whether every file of kResumeFiles is in folder and, when source is
// given, equal to its copy there; lacking names what is not.
bool CacheIsWhole(const wchar_t* source, const wchar_t* folder, std::wstring* lacking = nullptr);

// Deletes everything inside cacheFolder (a path ending in a backslash),
// permanently and without any window; the folder itself stays, and so do
// entries in use. In the product's own cache folder (ValidateCacheFolder)
// the entries in use, checked to be themselves, and then the folder are
// deleted at the next restart instead (a TRACE record each). A folder that
// IsEmptiableFolder refuses is left alone and an ERROR record says why.
void DeleteInstallSourceCache(const wchar_t* cacheFolder);
