#include "diag/LogLevel.h"

#include "diag/Logger.h"
#include "res/ProductIdentity.h"

DWORD ReadLogLevel() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLogLevelKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return kDefaultLogLevel;
    DWORD value = 0;
    DWORD size = sizeof value;
    LSTATUS status = RegQueryValueExW(key, kLogLevelValue, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : kDefaultLogLevel;
}
