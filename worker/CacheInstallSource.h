#pragma once
#include <windows.h>

// What caching the install source left for the rest of the run.
struct CachedSource {
    // The cache folder, zero-filled beyond its text (the shell's list form
    // needs the double NUL). Empty when the cache must not be used.
    wchar_t cacheFolder[MAX_PATH] = {};
    // False when the cache folder failed the safety check: then nothing is
    // copied into it, deleted from it or started from it.
    bool usable = false;
};

// True for a product code of the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
bool IsBracedGuid(const wchar_t* text);

// Records the source folder and copies the launcher and its modules into the
// product's cache folder, unless the launcher already runs from there.
void CacheInstallSource(const wchar_t* manufacturer, const wchar_t* productName, const wchar_t* productCode,
                        CachedSource& cached);
