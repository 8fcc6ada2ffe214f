#include "worker/CacheInstallSource.h"

#include <cwctype>
#include <string>

#include "res/ProductIdentity.h"
#include "cache/CacheCopy.h"
#include "cache/CacheFolderGuard.h"
#include "cache/PendingDeletions.h"
#include "cache/SourcePaths.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"

bool IsBracedGuid(const wchar_t* text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (!text || qx::BoundedLength(text, 39) != 38 || text[0] != L'{' || text[37] != L'}') return false;
    for (int i = 1; i < 37; ++i) {
        const wchar_t c = text[i];
        const bool dash = (i == 9 || i == 14 || i == 19 || i == 24);
        if (dash ? c != L'-' : !iswxdigit(c)) return false;
    }
    return true;
}

void CacheInstallSource(const InstallRequest& request, CachedSource& cached) {
    LogTrace(L"In CacheInstallSource");
    const wchar_t* manufacturer = request.manufacturer.c_str();
    const wchar_t* productName = request.productName.c_str();
    wchar_t sourceFolder[MAX_PATH] = {};
    wchar_t cacheFolder[MAX_PATH] = {};
    DWORD sourceCapacity = MAX_PATH;
    DWORD cacheCapacity = MAX_PATH;
    GetSourcePath(sourceFolder, sourceCapacity);
    GetCachePath(cacheFolder, cacheCapacity, manufacturer, productName);

    // The package's texts name the folder: only the product's own folder
    // strictly inside the common application-data folder is ever used, and
    // only while every level of it is held open and is no link.
    std::wstring reason;
    const bool fromCache = CompareStringOrdinal(sourceFolder, -1, cacheFolder, -1, TRUE) == CSTR_EQUAL;
    if (!ValidateCacheFolder(cacheFolder, manufacturer, productName, &reason) ||
        !HoldCacheFolder(cacheFolder, !fromCache, cached.hold, &reason)) {
        LogError(L"Install source cache not used: %s", reason.c_str());
        cached.notResumable = L"the install source cache is not used: " + reason;
        LogTrace(L"Out CacheInstallSource");
        return;
    }
    qx::BoundedCopy(cached.cacheFolder, MAX_PATH, cacheFolder);
    cached.emptiable = true;
    cached.usable = cached.hold.trusted;
    // What an earlier run left in use here is deleted at the next restart;
    // a cache filled or kept for a resume must not be.
    if (cached.usable) CancelDeletionsUnder(cacheFolder);
    if (!cached.usable) {
        LogError(L"Install source cache not used: %s", cached.hold.distrust.c_str());
        cached.notResumable = L"the install source cache is not used: " + cached.hold.distrust;
    } else if (fromCache) {
        // Resumed from the cache itself: nothing to copy, but it must still
        // hold what a further restart would need.
        std::wstring lacking;
        cached.whole = CacheIsWhole(nullptr, cacheFolder, &lacking);
        if (!cached.whole) cached.notResumable = L"the cache lacks " + lacking;
    } else {
        // The record names the folder the package came from (the disc a
        // person pointed to), under the key its reader reads; a product code
        // that is no GUID marks a package that is not to be trusted with it.
        if (request.packageFolder.empty()) {
            LogTrace(L"Source path not recorded: no package was found for this run");
        } else if (IsBracedGuid(request.productCode.c_str())) {
            CacheSourcePath(kManufacturer, kProductGuid, request.packageFolder.c_str());
        } else {
            LogError(L"Source path not recorded: the product code is not a GUID");
        }
        std::wstring lacking;
        cached.whole = CopyInstallSource(sourceFolder, cacheFolder, &lacking);
        if (!cached.whole) {
            // No half cache stays behind, new files of a copy cut short included.
            cached.notResumable = L"the cache copy lacks " + lacking;
            LogError(L"Install source cache is not whole; emptied again");
            DeleteInstallSourceCache(cacheFolder);
        }
    }
    LogTrace(L"Out CacheInstallSource");
}

void HoldCacheForRemoval(CachedSource& cached) {
    wchar_t cacheFolder[MAX_PATH] = {};
    DWORD capacity = MAX_PATH;
    GetCachePath(cacheFolder, capacity, kManufacturer, kProductName);
    std::wstring reason;
    // Never created for this: a missing level means nothing was cached.
    if (!ValidateCacheFolder(cacheFolder, kManufacturer, kProductName, &reason) ||
        !HoldCacheFolder(cacheFolder, false, cached.hold, &reason))
        return;
    qx::BoundedCopy(cached.cacheFolder, MAX_PATH, cacheFolder);
    cached.emptiable = true;
}
