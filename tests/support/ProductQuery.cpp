// Prints what Windows Installer reports about the product: its state and a
// few of its registered properties. Used by the demo and by tests.
#include <windows.h>
#include <msi.h>

#include <cstdio>
#include <initializer_list>

#include "res/ProductIdentity.h"

namespace {

void PrintProperty(const wchar_t* name) {
    wchar_t value[512] = {};
    DWORD length = 512;
    UINT r = MsiGetProductInfoW(kProductGuid, name, value, &length);
    if (r == ERROR_SUCCESS) {
        wprintf(L"  %-18ls %ls\n", name, value);
    } else {
        wprintf(L"  %-18ls (not available, %u)\n", name, r);
    }
}

}  // namespace

int wmain() {
    INSTALLSTATE state = MsiQueryProductStateW(kProductGuid);
    const wchar_t* text = state == INSTALLSTATE_DEFAULT   ? L"installed"
                          : state == INSTALLSTATE_ABSENT  ? L"absent (installed for another user)"
                          : state == INSTALLSTATE_ADVERTISED ? L"advertised"
                          : state == INSTALLSTATE_UNKNOWN ? L"not installed"
                                                          : L"other";
    wprintf(L"Product %ls: %ls (state %d)\n", kProductGuid, text, static_cast<int>(state));
    if (state == INSTALLSTATE_DEFAULT) {
        for (const wchar_t* p : {INSTALLPROPERTY_PRODUCTNAME, INSTALLPROPERTY_VERSIONSTRING, INSTALLPROPERTY_PUBLISHER,
                                 INSTALLPROPERTY_INSTALLLOCATION, INSTALLPROPERTY_INSTALLDATE,
                                 INSTALLPROPERTY_INSTALLSOURCE, INSTALLPROPERTY_LOCALPACKAGE})
            PrintProperty(p);
    }
    return state == INSTALLSTATE_DEFAULT ? 0 : 1;
}
