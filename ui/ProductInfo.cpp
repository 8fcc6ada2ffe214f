#include "ui/ProductInfo.h"

#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/Ownership.h"
#include "res/ProductIdentity.h"

namespace {

struct PropertyRead {
    const wchar_t* name;
    wchar_t* field;
    DWORD capacity;
};

}  // namespace

namespace {

DWORD Read(const wchar_t* packagePath, wchar_t (&productName)[kProductNameCapacity],
           wchar_t (&productCode)[kProductCodeCapacity], wchar_t (&manufacturer)[kManufacturerCapacity],
           const MsiCalls& msi) {
    if (msi.error != ERROR_SUCCESS) return msi.error;

    // Set on every call: the dialog is the only window the user sees, so the
    // installer must never show one of its own, not even for a missing file.
    msi.setInternalUI(kMsiUiLevelNoneSourceResOnly, nullptr);

    qx::UniqueMsiHandle<CloseMsiHandle> package;
    UINT result = msi.openPackage(packagePath, package.put());
    if (result != ERROR_SUCCESS) return result;

    const PropertyRead reads[] = {
        {L"ProductName", productName, kProductNameCapacity},
        {L"ProductCode", productCode, kProductCodeCapacity},
        {L"Manufacturer", manufacturer, kManufacturerCapacity},
    };
    for (const PropertyRead& read : reads) {
        DWORD length = read.capacity;
        result = msi.getProperty(package.get(), read.name, read.field, &length);
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}

}  // namespace

void LogProductInfoRead(DWORD result) {
    LogTrace(L"Inside GetProductInfo");
    if (result != ERROR_SUCCESS) {
        LogSystemError(result);
        return;
    }
    LogTrace(L"Exiting GetProductInfo");
}

bool ReadInstalledProductInfo(wchar_t (&productName)[kProductNameCapacity], wchar_t (&productCode)[kProductCodeCapacity],
                              wchar_t (&manufacturer)[kManufacturerCapacity], const MsiCalls& msi) {
    constexpr INT kInstalled = 5;   // INSTALLSTATE_DEFAULT
    if (!msi.queryProductState || !msi.getProductInfo || msi.queryProductState(kProductGuid) != kInstalled) return false;
    wchar_t name[kProductNameCapacity] = {};
    wchar_t publisher[kManufacturerCapacity] = {};
    DWORD nameLength = kProductNameCapacity, publisherLength = kManufacturerCapacity;
    if (msi.getProductInfo(kProductGuid, L"InstalledProductName", name, &nameLength) != ERROR_SUCCESS ||
        msi.getProductInfo(kProductGuid, L"Publisher", publisher, &publisherLength) != ERROR_SUCCESS)
        return false;
    qx::BoundedCopy(productName, kProductNameCapacity, name);
    qx::BoundedCopy(productCode, kProductCodeCapacity, kProductGuid);
    qx::BoundedCopy(manufacturer, kManufacturerCapacity, publisher);
    return true;
}

DWORD ReadProductInfoUnlogged(const wchar_t* packagePath, wchar_t (&productName)[kProductNameCapacity],
                              wchar_t (&productCode)[kProductCodeCapacity],
                              wchar_t (&manufacturer)[kManufacturerCapacity], const MsiCalls& msi) {
    return Read(packagePath, productName, productCode, manufacturer, msi);
}

DWORD ReadProductInfo(const wchar_t* packagePath, wchar_t (&productName)[kProductNameCapacity],
                      wchar_t (&productCode)[kProductCodeCapacity],
                      wchar_t (&manufacturer)[kManufacturerCapacity], const MsiCalls& msi) {
    const DWORD result = Read(packagePath, productName, productCode, manufacturer, msi);
    LogProductInfoRead(result);
    return result;
}
