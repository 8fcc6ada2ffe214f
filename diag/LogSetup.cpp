#include "diag/LogSetup.h"

#include "app/ProductIdentity.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"

void InitializeLog(wchar_t* logFile) {
    CLogger& logger = CLogger::Instance();
    wchar_t folder[MAX_PATH] = {};
    DWORD n = GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH) {
        // No temporary folder: no log, rather than one at the drive's root.
        logger.AddLevel(ReadLogLevel());
        return;
    }
    size_t len = qx::BoundedLength(folder, MAX_PATH);
    if (len == 0 || folder[len - 1] != L'\\') qx::BoundedAppend(folder, MAX_PATH, L"\\");
    qx::BoundedAppend(folder, MAX_PATH, kProductGuid);
    qx::BoundedAppend(folder, MAX_PATH, L"\\");
    CreateDirectoryW(folder, nullptr);  // usually there from an earlier run

    // The platform picks a number no file in the folder has yet and creates
    // "~qx<hex>.tmp"; the log takes the same name with "log".
    wchar_t name[MAX_PATH] = {};
    if (GetTempFileNameW(folder, L"~qx", 0, name) != 0) {
        DeleteFileW(name);
        size_t nameLen = qx::BoundedLength(name, MAX_PATH);
        if (nameLen > 3) {
            name[nameLen - 3] = L'\0';
            qx::BoundedAppend(name, MAX_PATH, L"log");
            qx::BoundedCopy(logFile, MAX_PATH, name);
        }
    }

    logger.SetLogFile(logFile);
    logger.AddLevel(ReadLogLevel());
}
