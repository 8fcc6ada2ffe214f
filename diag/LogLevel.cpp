#include "diag/LogLevel.h"

#include "diag/Logger.h"
#include "framework/Ownership.h"
#include "res/ProductIdentity.h"

DWORD ReadLogLevel() {
    DWORD value = 0;
    DWORD size = sizeof value;
    return qx::ReadRegistryValue(HKEY_LOCAL_MACHINE, kLogLevelKey, kLogLevelValue, &value, size) == ERROR_SUCCESS
               ? value
               : kDefaultLogLevel;
}
