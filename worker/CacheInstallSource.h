#pragma once
#include <windows.h>

#include <string>

#include "cache/CacheFolderHold.h"
#include "worker/InstallRequest.h"

// What caching the install source left for the rest of the run.
struct CachedSource {
    // The cache folder, zero-filled beyond its text (the shell's list form
    // needs the double NUL). Empty when the cache must not be touched.
    wchar_t cacheFolder[MAX_PATH] = {};
    // Only administrators can write the folder: the launcher may copy
    // itself there and have the restart start it from there.
    bool usable = false;
    // The product's own folder, held and free of links: it may be emptied,
    // even when it is not trusted to hold code.
    bool emptiable = false;
    // Usable, and holding every file a resumed run needs, equal to its
    // source: only then may a restart resume from it.
    bool whole = false;
    // Why a restart could not resume from it, when it cannot.
    std::wstring notResumable;
    // Held open from the caching to the end of the run.
    CacheFolderHold hold;
};

// True for a product code of the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
bool IsBracedGuid(const wchar_t* text);

// Holds the product's cache folder, when there is one, so that what an
// earlier installation cached can be emptied; records and copies nothing.
void HoldCacheForRemoval(CachedSource& cached);

// Records the folder the request's package came from and copies the
// launcher and its modules into the product's cache folder (named by the
// request's manufacturer and product name), unless the launcher already
// runs from there.
void CacheInstallSource(const InstallRequest& request, CachedSource& cached);
