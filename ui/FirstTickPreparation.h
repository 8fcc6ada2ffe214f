#pragma once
// What the setup window's first tick needs, made ready on threads of their
// own from the launcher's start while nothing waits for it: the checks of
// the companion modules and of the package beside the launcher (against
// the release's pins: hashes); the installer's binding, then the read of
// the package. Each file is held from its check until it is used.
#include <windows.h>

#include "framework/FileSignature.h"
#include "ui/ProductInfo.h"

// Starts both threads. They log nothing and change no result: whatever a
// thread has not done yet when it is needed is waited for or done then;
// when a thread cannot be started, its part is done at first use as before.
// readPackage false: the package is neither checked nor read ahead.
void PrepareFirstTickInBackground(bool readPackage = true);
// Waits, at most timeoutMs, for both threads to end: the process ends only
// after them.
void WaitForFirstTickPreparation(DWORD timeoutMs);

// The package at path, checked as a file of the product and held,
// and its product information when it was read ahead for that same path
// and file (read is false otherwise: the caller reads it itself).
struct PreparedPackage {
    qx::CheckedFile file;
    bool read = false;
    DWORD result = ERROR_SUCCESS;   // the read's result, when read
    wchar_t productName[kProductNameCapacity] = {};
    wchar_t productCode[kProductCodeCapacity] = {};
    wchar_t manufacturer[kManufacturerCapacity] = {};
};
// Waits for a read ahead still under way for path.
PreparedPackage TakePreparedPackage(const wchar_t* path);
