#pragma once
// Reads the product's name, code and manufacturer from its installer package.
#include <windows.h>

#include "ui/MsiBinding.h"

constexpr size_t kProductNameCapacity = 256;
constexpr size_t kProductCodeCapacity = 40;
constexpr size_t kManufacturerCapacity = 256;

// Fills the three fields in that order and stops at the first property that
// cannot be read; fields read before it keep their values, later ones are
// left alone. A value that does not fit its field, terminator included, is a
// failure. Returns 0, or the failing installer call's code, logged once
// (2 when no file is at packagePath). When the installer calls could not be
// bound, that is the failure, logged and returned like the others.
DWORD ReadProductInfo(const wchar_t* packagePath, wchar_t (&productName)[kProductNameCapacity],
                      wchar_t (&productCode)[kProductCodeCapacity],
                      wchar_t (&manufacturer)[kManufacturerCapacity], const MsiCalls& msi = Msi());

// The same read without a record, for a read made ahead of its use; the
// records a read makes are written afterwards by LogProductInfoRead.
DWORD ReadProductInfoUnlogged(const wchar_t* packagePath, wchar_t (&productName)[kProductNameCapacity],
                              wchar_t (&productCode)[kProductCodeCapacity],
                              wchar_t (&manufacturer)[kManufacturerCapacity], const MsiCalls& msi = Msi());
// The records ReadProductInfo makes for a read that gave result.
void LogProductInfoRead(DWORD result);

// The product's name, code and manufacturer as Windows Installer keeps them
// for the installed product (its InstalledProductName and Publisher), when
// the product is installed; false otherwise, the fields left alone. For a
// resume whose source is gone: nothing is left to install.
bool ReadInstalledProductInfo(wchar_t (&productName)[kProductNameCapacity], wchar_t (&productCode)[kProductCodeCapacity],
                              wchar_t (&manufacturer)[kManufacturerCapacity], const MsiCalls& msi = Msi());
