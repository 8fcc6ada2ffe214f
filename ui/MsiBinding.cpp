#include "ui/MsiBinding.h"

#include "framework/Ownership.h"
#include "framework/SystemLibrary.h"

MsiCalls BindMsiCalls(const wchar_t* dll) {
    MsiCalls calls;
    // Kept to the end of the process on purpose: the bound calls point into it.
    HMODULE module = qx::LoadSystemLibrary(dll);
    if (!module) {
        calls.error = qx::LoadFailure(GetLastError());
    } else {
        calls.setInternalUI = qx::BindProc<decltype(calls.setInternalUI)>(module, MAKEINTRESOURCEA(141));
        calls.openPackage = qx::BindProc<decltype(calls.openPackage)>(module, MAKEINTRESOURCEA(94));
        calls.getProperty = qx::BindProc<decltype(calls.getProperty)>(module, MAKEINTRESOURCEA(74));
        calls.closeHandle = qx::BindProc<decltype(calls.closeHandle)>(module, MAKEINTRESOURCEA(8));
        calls.queryProductState = qx::BindProc<decltype(calls.queryProductState)>(module, "MsiQueryProductStateW");
        calls.getProductInfo = qx::BindProc<decltype(calls.getProductInfo)>(module, "MsiGetProductInfoW");
        const bool all = calls.setInternalUI && calls.openPackage && calls.getProperty && calls.closeHandle;
        calls.error = all ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
    }
    return calls;
}

const MsiCalls& Msi() {
    static const MsiCalls calls = BindMsiCalls();
    return calls;
}

void CloseMsiHandle(MSIHANDLE handle) {
    if (Msi().closeHandle) Msi().closeHandle(handle);
}
