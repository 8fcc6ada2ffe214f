#include "worker/MSIThread.h"

#include "app/SetupApp.h"
#include "cache/CacheCopy.h"
#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "modules/InstallActions.h"
#include "ui/SetupDlg.h"
#include "worker/CacheInstallSource.h"
#include "worker/RunOnce.h"

UINT MSIThreadProc(LPVOID param) {
    auto* dialog = static_cast<CSetupDlg*>(param);
    LogTrace(L"In MSIThreadProc");

    // The dialog signalled the event before resuming us: this returns at once.
    UiLock* lock = dialog->m_pUILock;
    if (lock && !lock->m_bAcquired) lock->Lock(INFINITE);

    LogTrace(L"create MSIThread mutex");
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kWorkerMutexName);

    wchar_t manufacturer[256] = {};
    wchar_t productName[256] = {};
    wchar_t productCode[256] = {};
    qx::BoundedCopy(manufacturer, 256, dialog->m_szManufacturer);
    qx::BoundedCopy(productName, 256, dialog->m_szProductName);
    qx::BoundedCopy(productCode, 256, dialog->m_szProductCode);

    CachedSource cached;
    CacheInstallSource(manufacturer, productName, productCode, cached);

    const wchar_t* commandLine = theApp.m_lpCmdLine ? theApp.m_lpCmdLine : L"";
    LogTrace(L"calling DoInstallActions: %s", commandLine);
    bool rebootPending = false;
    try {
        int result = DoInstallActions(commandLine, lock, theApp.m_szLogFile, 0);
        switch (result) {
            case kInstallSuccess:
                break;
            case kInstallRebootInitiated:
                LogTrace(L"Reboot initiated");
                if (cached.usable) SetRunOnceEntry(cached.cacheFolder);
                rebootPending = true;
                break;
            case kInstallRebootRequired:
            case kInstallRebootRequiredToo:
                LogTrace(L"Reboot required");
                if (cached.usable) SetRunOnceEntry(cached.cacheFolder);
                rebootPending = true;
                RebootSystemNow();
                break;
            default:
                LogSystemError(static_cast<DWORD>(result));
                throw InstallErrorException(result);
        }
    } catch (InstallErrorException& error) {
        ReportError(error);
    }

    // A pending restart starts the launcher from the cache: keep it.
    if (!rebootPending && cached.emptiable) {
        LogTrace(L"Deleting install source cache");
        DeleteInstallSourceCache(cached.cacheFolder);
    }

    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    LogTrace(L"Exiting MsiThreadproc");
    return 1;
}
