#include "ui/ProductInfo.h"

#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "ui/MsiOrdinals.h"

namespace {

struct PropertyRead {
    const wchar_t* name;
    wchar_t* field;
    DWORD capacity;
};

}  // namespace

DWORD ReadProductInfo(const wchar_t* packagePath, wchar_t (&productName)[kProductNameCapacity],
                      wchar_t (&productCode)[kProductCodeCapacity],
                      wchar_t (&manufacturer)[kManufacturerCapacity]) {
    LogTrace(L"Inside GetProductInfo");

    // Set on every call: the dialog is the only window the user sees, so the
    // installer must never show one of its own, not even for a missing file.
    MsiSetInternalUI(kMsiUiLevelNoneSourceResOnly, nullptr);

    MSIHANDLE package = 0;
    UINT result = MsiOpenPackageW(packagePath, &package);
    if (result != ERROR_SUCCESS) {
        LogSystemError(result);
        return result;
    }

    const PropertyRead reads[] = {
        {L"ProductName", productName, kProductNameCapacity},
        {L"ProductCode", productCode, kProductCodeCapacity},
        {L"Manufacturer", manufacturer, kManufacturerCapacity},
    };
    for (const PropertyRead& read : reads) {
        DWORD length = read.capacity;
        result = MsiGetPropertyW(package, read.name, read.field, &length);
        if (result != ERROR_SUCCESS) {
            LogSystemError(result);
            MsiCloseHandle(package);
            return result;
        }
    }

    MsiCloseHandle(package);
    LogTrace(L"Exiting GetProductInfo");
    return ERROR_SUCCESS;
}
