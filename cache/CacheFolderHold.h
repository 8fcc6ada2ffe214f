#pragma once
// The cache folder, <common application data>\<manufacturer>\<product>\,
// held open level by level for as long as the launcher works in it, so that
// no level can be renamed, replaced or turned into a link meanwhile.
#include <windows.h>

#include <string>
#include <vector>

#include "framework/Ownership.h"

struct CacheFolderHold {
    // The manufacturer's and the product's level, in that order.
    std::vector<qx::UniqueHandle> levels;
    // Only administrators can write there: every level was created by the
    // launcher or can be changed by nobody but Administrators, SYSTEM and
    // TrustedInstaller (its owner and every allowing entry of its access
    // list), and the product level carries the protected descriptor. Only then does the cache hold
    // code that is started with administrator rights.
    bool trusted = false;
    // Why it is not trusted, when it is held but not trusted.
    std::wstring distrust;

    bool Held() const { return !levels.empty(); }
};

// Takes hold of the cache folder, which must be the common application-data
// folder, two plain levels and a backslash. createMissing creates missing
// levels with the protected descriptor; otherwise a missing level fails.
// A level that is a link fails. An existing product level that only
// administrators can change gets the protected descriptor again. False
// with a reason when the folder cannot be held.
bool HoldCacheFolder(const wchar_t* cacheFolder, bool createMissing, CacheFolderHold& hold, std::wstring* reason);
