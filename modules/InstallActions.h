#pragma once
// "QXVInstallActions64.dll": performs the installation proper.
#include <windows.h>

#include "framework/SyncObjects.h"

#ifdef QX_BUILDING_INSTALLACTIONS
#define QX_INSTALLACTIONS_API extern "C" __declspec(dllexport)
#else
#define QX_INSTALLACTIONS_API extern "C" __declspec(dllimport)
#endif

// Results the launcher acts on; any other non-zero value is an error code.
constexpr int kInstallSuccess = 0;
constexpr int kInstallRebootInitiated = 1641;   // the installer restarts itself
constexpr int kInstallRebootRequired = 3010;
constexpr int kInstallRebootRequiredToo = 3011;

// commandLine: the launcher's argument tail. uiLock: held when passed; the
// module releases it when the launcher's hourglass is no longer wanted.
// logFile: the launcher's log (append records through the shared logger).
QX_INSTALLACTIONS_API int DoInstallActions(const wchar_t* commandLine, UiLock* uiLock,
                                           const wchar_t* logFile, int reserved);
