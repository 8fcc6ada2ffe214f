// What the launcher exports for the modules it loads: its word for a file
// it holds unchanged since the file's hash matched its pin (see
// framework/ReleasePins.h), so a module does not hash it a second time.
#include "framework/ReleasePins.h"

extern "C" __declspec(dllexport) BOOL WINAPI QxVouchedHash(HANDLE file, BYTE* hash) {
    qx::Sha256 vouched = {};
    if (!file || !hash || !qx::VouchedHash(file, vouched)) return FALSE;
    for (size_t i = 0; i < vouched.size(); ++i) hash[i] = vouched[i];
    return TRUE;
}
