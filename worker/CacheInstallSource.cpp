#include "worker/CacheInstallSource.h"

#include <string>

#include "cache/CacheCopy.h"
#include "cache/CacheFolderGuard.h"
#include "cache/SourcePaths.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"

void CacheInstallSource(const wchar_t* manufacturer, const wchar_t* productName, const wchar_t* productCode,
                        CachedSource& cached) {
    LogTrace(L"In CacheInstallSource");
    wchar_t sourceFolder[MAX_PATH] = {};
    wchar_t cacheFolder[MAX_PATH] = {};
    DWORD sourceCapacity = MAX_PATH;
    DWORD cacheCapacity = MAX_PATH;
    GetSourcePath(sourceFolder, sourceCapacity);
    GetCachePath(cacheFolder, cacheCapacity, manufacturer, productName);

    // The package's texts name the folder: only the product's own folder
    // strictly inside the application-data folder is ever used.
    std::wstring reason;
    cached.usable = ValidateCacheFolder(cacheFolder, manufacturer, productName, &reason);
    if (!cached.usable) {
        LogError(L"Install source cache not used: %s", reason.c_str());
    } else if (CompareStringOrdinal(sourceFolder, -1, cacheFolder, -1, TRUE) != CSTR_EQUAL) {
        CacheSourcePath(manufacturer, productCode);
        CopyInstallSource(sourceFolder, cacheFolder);
    }
    if (cached.usable) qx::BoundedCopy(cached.cacheFolder, MAX_PATH, cacheFolder);
    LogTrace(L"Out CacheInstallSource");
}
