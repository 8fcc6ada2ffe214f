// Performs the installation of the product's package through Windows
// Installer, logging into the launcher's own log file.
#include "modules/InstallActions.h"

#include <msi.h>

#include "diag/LogLevel.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/FileSignature.h"
#include "framework/SystemLibrary.h"
#include "res/ProductIdentity.h"
#include "res/SourceRecord.h"
#include "res/InstallerProperties.h"
#include "res/Switches.h"

namespace {

// The installer calls this module makes, bound by name from the system
// folder's msi.dll: it is not on Windows' KnownDLLs list, so a load-time
// import would take a copy from the launcher's folder first.
struct Installer {
    decltype(&MsiEnableLogW) enableLog = nullptr;
    decltype(&MsiQueryProductStateW) queryProductState = nullptr;
    decltype(&MsiSetInternalUI) setInternalUI = nullptr;
    decltype(&MsiInstallProductW) installProduct = nullptr;
    decltype(&MsiConfigureProductW) configureProduct = nullptr;
    DWORD error = ERROR_MOD_NOT_FOUND;   // 0 once all five are bound
};

const Installer& Msi() {
    static const Installer installer = [] {
        Installer calls;
        // Kept to the end of the process on purpose: the bound calls point into it.
        HMODULE module = qx::LoadSystemLibrary(L"msi.dll");
        if (!module) {
            calls.error = qx::LoadFailure(GetLastError());
            return calls;
        }
        calls.enableLog = qx::BindProc<decltype(calls.enableLog)>(module, "MsiEnableLogW");
        calls.queryProductState = qx::BindProc<decltype(calls.queryProductState)>(module, "MsiQueryProductStateW");
        calls.setInternalUI = qx::BindProc<decltype(calls.setInternalUI)>(module, "MsiSetInternalUI");
        calls.installProduct = qx::BindProc<decltype(calls.installProduct)>(module, "MsiInstallProductW");
        calls.configureProduct = qx::BindProc<decltype(calls.configureProduct)>(module, "MsiConfigureProductW");
        const bool all = calls.enableLog && calls.queryProductState && calls.setInternalUI && calls.installProduct &&
                         calls.configureProduct;
        calls.error = all ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
        return calls;
    }();
    return installer;
}

// Repair in place, re-caching the package, so a package rebuilt with a new
// package code still reinstalls over the installed product.
constexpr wchar_t kRepairProperties[] = L"REINSTALL=ALL REINSTALLMODE=vomus";
constexpr wchar_t kInstallerLogSuffix[] = L".msi.log";
// How much of the command line goes into the first trace line, so that the
// line stays within the log's 255 characters.
constexpr size_t kLoggedTailChars = 200;

// Everything the installer can tell, in verbose form.
constexpr DWORD kInstallerLogMode =
    INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER |
    INSTALLLOGMODE_INFO | INSTALLLOGMODE_RESOLVESOURCE | INSTALLLOGMODE_OUTOFDISKSPACE |
    INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_COMMONDATA |
    INSTALLLOGMODE_PROPERTYDUMP | INSTALLLOGMODE_VERBOSE;

// The launcher's log path, or an empty one when it is missing or longer
// than any path the launcher has: a cut path would name another file.
void LogPath(const wchar_t* logFile, wchar_t (&path)[MAX_PATH]) {
    if (!qx::BoundedCopy(path, MAX_PATH, logFile)) path[0] = L'\0';
}

// This module's copy of the logger is its own; point it at the launcher's
// file afresh on every call. The logger keeps a path of at most kMaxLogText
// characters: a longer one would be cut to the name of another file, so the
// records are lost instead, as the launcher's own are.
void SetUpLog(const wchar_t* logPath) {
    CLogger& logger = CLogger::Instance();
    logger.Reset();
    if (qx::BoundedLength(logPath, MAX_PATH) <= kMaxLogText) logger.SetLogFile(logPath);
    logger.AddLevel(ReadLogLevel());
}

bool IsFile(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// folder + package name into path; false when it does not fit or is no file.
bool PackageIn(const wchar_t* folder, wchar_t (&path)[MAX_PATH]) {
    path[0] = L'\0';
    const size_t length = qx::BoundedLength(folder, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return false;
    if (!qx::BoundedCopy(path, MAX_PATH, folder)) return false;
    if (path[length - 1] != L'\\' && !qx::BoundedAppend(path, MAX_PATH, L"\\")) return false;
    if (!qx::BoundedAppend(path, MAX_PATH, kPackageFile)) return false;
    return IsFile(path);
}

bool PackageBesideModule(wchar_t (&path)[MAX_PATH]) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&PackageBesideModule), &self))
        return false;
    wchar_t folder[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(self, folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;  // a cut path names no folder of ours
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (!slash) return false;
    slash[1] = L'\0';
    return PackageIn(folder, path);
}

// The source folder the launcher recorded, when it is text.
bool PackageInRecordedSource(wchar_t (&path)[MAX_PATH]) {
    const SourceRecord record = ReadSourceRecord();
    if (!record.found || record.type != REG_SZ) return false;
    LogTrace(L"Recorded source folder: %s", record.folder.c_str());
    return PackageIn(record.folder.c_str(), path);
}

// The installer's verbose log beside the launcher's: "x.log" gives
// "x.msi.log". Without a log file of the launcher's there is none either.
void EnableInstallerLog(const wchar_t* logPath) {
    wchar_t path[MAX_PATH] = {};
    bool usable = *logPath && qx::BoundedCopy(path, MAX_PATH, logPath);
    if (usable) {
        size_t length = qx::BoundedLength(path, MAX_PATH);
        if (length >= 4 && _wcsicmp(path + length - 4, L".log") == 0) path[length - 4] = L'\0';
        usable = qx::BoundedAppend(path, MAX_PATH, kInstallerLogSuffix);
    }
    if (!usable) {
        Msi().enableLog(0, nullptr, 0);
        return;
    }
    UINT rc = Msi().enableLog(kInstallerLogMode, path, INSTALLLOGATTRIBUTES_APPEND | INSTALLLOGATTRIBUTES_FLUSHEACHLINE);
    LogTrace(L"Installer log %s: %d", path, static_cast<int>(rc));
}

void ReleaseHourglass(UiLock* uiLock) {
    if (uiLock) uiLock->Unlock();
}

// Runs the installer on the package with the package's own progress
// dialog: the reduced level shows it and no wizard dialog (the basic level's
// built-in window does not exist everywhere). The launcher's hourglass goes
// the moment that dialog is about to appear. A quiet run shows no window.
// The public properties of the command line go after the module's own, so
// an administrator who names REINSTALL or REINSTALLMODE has the last word.
int RunInstaller(const wchar_t* package, UiLock* uiLock, const wchar_t* logPath, INSTALLUILEVEL level,
                 const std::vector<PublicProperty>& given) {
    EnableInstallerLog(logPath);
    const INSTALLSTATE state = Msi().queryProductState(kProductGuid);
    const std::wstring own = state == INSTALLSTATE_UNKNOWN ? L"" : kRepairProperties;
    std::wstring properties = own, logged = own;
    if (!given.empty()) {
        properties += (own.empty() ? L"" : L" ") + InstallerPropertyText(given);
        logged += (own.empty() ? L"" : L" ") + InstallerPropertyText(given, true);
    }
    // Secret values (names ending in PASSWORD or KEY) never reach the log.
    LogTrace(L"Product state %d; installing with \"%s\"", static_cast<int>(state), logged.c_str());

    const INSTALLUILEVEL previous = Msi().setInternalUI(level, nullptr);
    ReleaseHourglass(uiLock);
    const UINT result = Msi().installProduct(package, properties.c_str());
    if (previous != INSTALLUILEVEL_NOCHANGE) Msi().setInternalUI(previous, nullptr);
    LogTrace(L"MsiInstallProductW returned %d", static_cast<int>(result));
    return static_cast<int>(result);
}

// Removes the installed product by its code, with the installer's progress
// window (none in a quiet run); 1605 when it is not installed.
int RemoveProduct(UiLock* uiLock, const wchar_t* logPath, INSTALLUILEVEL level) {
    const INSTALLSTATE state = Msi().queryProductState(kProductGuid);
    LogTrace(L"Uninstall: product state %d", static_cast<int>(state));
    if (state == INSTALLSTATE_UNKNOWN) {
        ReleaseHourglass(uiLock);
        return ERROR_UNKNOWN_PRODUCT;
    }
    EnableInstallerLog(logPath);
    const INSTALLUILEVEL previous = Msi().setInternalUI(level, nullptr);
    ReleaseHourglass(uiLock);
    const UINT result = Msi().configureProduct(kProductGuid, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    if (previous != INSTALLUILEVEL_NOCHANGE) Msi().setInternalUI(previous, nullptr);
    LogTrace(L"MsiConfigureProductW returned %d", static_cast<int>(result));
    return static_cast<int>(result);
}

// The installer's interface for a run: none in a quiet run; in a passive
// one msiexec's /passive (the basic progress bar, no cancel, no modal box:
// nothing waits for a click); otherwise the package's own progress dialog.
INSTALLUILEVEL InterfaceFor(const Switches& switches) {
    if (switches.quiet) return INSTALLUILEVEL_NONE;
    if (switches.passive)
        return static_cast<INSTALLUILEVEL>(INSTALLUILEVEL_BASIC | INSTALLUILEVEL_PROGRESSONLY | INSTALLUILEVEL_HIDECANCEL);
    return INSTALLUILEVEL_REDUCED;
}

int InstallActions(const wchar_t* commandLine, UiLock* uiLock, const wchar_t* logPath) {
    if (Msi().error != ERROR_SUCCESS) {
        LogTrace(L"Windows Installer could not be loaded from the system folder: %d", static_cast<int>(Msi().error));
        ReleaseHourglass(uiLock);
        return static_cast<int>(Msi().error);
    }
    // The product's own forms and those administrators type (/quiet, ...).
    const Switches switches = ReadSwitches(commandLine);
    if (switches.uninstall) return RemoveProduct(uiLock, logPath, InterfaceFor(switches));
    if (HasCallerSwitch(commandLine, kSwitchAfterReboot)) {
        const INSTALLSTATE state = Msi().queryProductState(kProductGuid);
        LogTrace(L"After the restart: product state %d", static_cast<int>(state));
        if (state == INSTALLSTATE_DEFAULT) {
            LogTrace(L"The product is installed; nothing left to do");
            ReleaseHourglass(uiLock);
            return ERROR_SUCCESS;
        }
    }

    // The launcher found the package and checked it (beside it, at the
    // record, or where a person pointed the disc prompt): that one is
    // installed, and none is looked for. Without it, as from a launcher
    // that hands none on, the module looks where the launcher would.
    wchar_t package[MAX_PATH] = {};
    const std::wstring handed = HandedPackage(commandLine);
    if (!handed.empty()) {
        if (!qx::BoundedCopy(package, MAX_PATH, handed.c_str())) {
            // A cut path would name another file.
            LogTrace(L"Package handed on by the launcher is too long: %s", handed.c_str());
            ReleaseHourglass(uiLock);
            return ERROR_FILENAME_EXCED_RANGE;
        }
        LogTrace(L"Package handed on by the launcher: %s", package);
    } else if (PackageBesideModule(package)) {
        LogTrace(L"Package beside the module: %s", package);
    } else if (PackageInRecordedSource(package)) {
        LogTrace(L"Package in the recorded source folder: %s", package);
    } else {
        LogTrace(L"Package %s not found beside the module or in the recorded source folder", kPackageFile);
        ReleaseHourglass(uiLock);
        return ERROR_FILE_NOT_FOUND;
    }
    // Held, shared for reading only, until the installer is done with it: in
    // a signed program a package that is not this release's (pinned by its
    // hash) is never installed, since its custom actions would run with the
    // installer's rights. Inside the launcher, which holds the package it
    // read, the launcher's word for the file stands in for a second hash.
    const qx::CheckedFile checked = qx::CheckedFile::Open(package);
    if (checked.Absent()) {
        LogTrace(L"Package %s is gone", package);
        ReleaseHourglass(uiLock);
        return ERROR_FILE_NOT_FOUND;
    }
    if (!checked.Passed()) {
        LogRefusal(package, checked.Refusal());
        ReleaseHourglass(uiLock);
        return static_cast<int>(checked.Refusal());
    }
    // By the path the held file resolves to, its folders held too: the
    // installer opens exactly the package that was checked.
    return RunInstaller(checked.UsablePath(), uiLock, logPath, InterfaceFor(switches), PublicProperties(commandLine));
}

}  // namespace

QX_INSTALLACTIONS_API int DoInstallActions(const wchar_t* commandLine, UiLock* uiLock, const wchar_t* logFile,
                                           int /*reserved*/) {
    wchar_t logPath[MAX_PATH] = {};
    LogPath(logFile, logPath);
    SetUpLog(logPath);
    wchar_t tail[kLoggedTailChars + 1] = {};
    qx::BoundedCopy(tail, kLoggedTailChars + 1, TailForLog(commandLine).c_str());
    LogTrace(L"In DoInstallActions: %s", tail);
    const int result = InstallActions(commandLine, uiLock, logPath);
    LogTrace(L"DoInstallActions result: %d", result);
    LogTrace(L"Exiting DoInstallActions");
    return result;
}
