// Performs the installation of the product's package.
#include "modules/InstallActions.h"

#include "diag/Logger.h"

QX_INSTALLACTIONS_API int DoInstallActions(const wchar_t* commandLine, UiLock* uiLock,
                                           const wchar_t* logFile, int /*reserved*/) {
    CLogger& logger = CLogger::Instance();
    if (logFile && *logFile && logger.Level() == 0) {
        logger.SetLogFile(logFile);
        logger.AddLevel(kDefaultLogLevel);
    }
    LogTrace(L"In DoInstallActions: %s", commandLine ? commandLine : L"");
    if (uiLock) uiLock->Unlock();
    LogTrace(L"Exiting DoInstallActions");
    return ERROR_CALL_NOT_IMPLEMENTED;
}
