#include "worker/MSIThread.h"

#include <memory>
#include <utility>

#include "app/SetupApp.h"
#include "cache/CacheCopy.h"
#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/ObjectSecurity.h"
#include "framework/Ownership.h"
#include "modules/CompanionModules.h"
#include "modules/InstallActions.h"
#include "worker/CacheInstallSource.h"
#include "worker/InstallRequest.h"
#include "worker/RunOnce.h"
#include "res/InstallerProperties.h"
#include "res/Switches.h"
#include "res/ProductIdentity.h"

namespace {

// ERROR_INSTALL_SUSPEND, "Installation suspended, incomplete.": a restart is
// needed but no resume after it was armed.
constexpr DWORD kExitResumeNotArmed = 1604;

// The RunOnce entry, only for a cache a restart can resume from, carrying
// the public properties of the command line so the resumed run installs
// with them. False, with the reason in the log, when there is none.
bool ArmResume(const CachedSource& cached) {
    const std::vector<PublicProperty> properties = PublicProperties(theApp.m_lpCmdLine);
    std::wstring secret;
    for (const PublicProperty& p : properties)
        if (IsSecretProperty(p.name) && secret.empty()) secret = p.name;
    // A passive run resumes passively, with the same properties.
    const std::wstring carried = (theApp.m_bPassive ? std::wstring(kSwitchPassive) + (properties.empty() ? L"" : L" ")
                                                    : std::wstring()) +
                                 CommandLinePropertyText(properties);
    // A RunOnce value is readable by every user: a secret is never written
    // there, and a resume without it would install something else.
    if (secret.empty() && cached.usable && cached.whole &&
        SetRunOnceEntry(cached.cacheFolder, theApp.m_bQuiet, theApp.m_sRequestedLog.c_str(), carried.c_str()))
        return true;
    const std::wstring reason =
        !secret.empty()                  ? L"a secret property is not written into the RunOnce entry: " + secret
        : !cached.notResumable.empty()   ? cached.notResumable
        : cached.usable && cached.whole ? L"the RunOnce entry could not be written (or its command does not fit)"
                                         : L"the cache is not whole";
    std::wstring text = L"Resume after restart not armed: " + reason;
    LogErrorText(text.c_str());
    return false;
}

}  // namespace

UINT MSIThreadProc(LPVOID param) {
    // Ours from here on: the package in it is held until the installation has ended.
    const std::unique_ptr<InstallRequest> request(static_cast<InstallRequest*>(param));
    LogTrace(L"In MSIThreadProc");

    // The dialog signalled the event before resuming us: this returns at once.
    UiLock* lock = request->lock;
    if (lock && !lock->m_bAcquired) lock->Lock(INFINITE);

    LogTrace(L"create MSIThread mutex");
    qx::ObjectName mutexName = qx::ObjectName::Own;
    qx::UniqueHandle mutex = qx::CreateUnsquattedMutex(kWorkerMutexName, mutexName);
    // A mutex another program made first could hold the dialog for ever;
    // the dialog gets its handle from us, so an unnamed one serves.
    if (mutexName != qx::ObjectName::Own)
        LogTrace(L"Worker mutex name already in use by another program; using an unnamed mutex");
    // Created owned: given back whichever way this procedure ends.
    qx::MutexGuard owned(mutex.get());
    if (mutex) {
        qx::UniqueHandle forDialog;
        if (DuplicateHandle(GetCurrentProcess(), mutex.get(), GetCurrentProcess(), forDialog.put(),
                            SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, 0))
            request->workerMutex->Offer(std::move(forDialog));
    }

    CachedSource cached;
    if (theApp.m_bUninstall) {
        // Nothing is cached or recorded for a removal; what an earlier
        // installation cached goes with the product.
        LogTrace(L"Uninstall: no cache and no source record");
        HoldCacheForRemoval(cached);
    } else {
        CacheInstallSource(*request, cached);
    }

    // The package found and checked is the one installed: its path goes to
    // the module first, where no quote the caller left open can take it in.
    const std::wstring tail = request->package.Passed()
                                  ? HandOnPackage(request->package.UsablePath(), theApp.m_sModuleArguments)
                                  : theApp.m_sModuleArguments;
    const wchar_t* commandLine = tail.c_str();
    LogTrace(L"calling DoInstallActions: %s", TailForLog(commandLine).c_str());
    bool resumeArmed = false;
    try {
        // Loaded by its full path once its file passed the check; the file
        // was held since the check, so it is the one loaded.
        ModuleLoad load;
        const DoInstallActionsFn doInstallActions = BindDoInstallActions(load);
        if (!doInstallActions) {
            // Refused: said in the launcher's own box. Missing or unusable: as
            // a failed installation call, logged and reported. Either way its
            // code is the exit code and the cache is emptied.
            if (load.refused != S_OK) {
                ReportRefusal(load.path, load.refused);
            } else {
                LogErrorText((L"Could not load " + load.path).c_str());
                LogSystemError(load.error);
            }
            const DWORD code = load.refused != S_OK ? static_cast<DWORD>(load.refused) : load.error;
            theApp.m_dwExitCode = code;
            throw InstallErrorException(static_cast<int32_t>(code));
        }
        int result = doInstallActions(commandLine, lock, theApp.m_szLogFile, 0);
        // The module's result is the process's, unchanged, for whoever
        // started the launcher (a deployment tool reads it).
        theApp.m_dwExitCode = static_cast<DWORD>(result);
        switch (result) {
            case kInstallSuccess:
                break;
            case kInstallRebootInitiated:
                LogTrace(L"Reboot initiated");
                resumeArmed = !theApp.m_bUninstall && ArmResume(cached);
                break;
            case kInstallRebootRequired:
            case kInstallRebootRequiredToo:
                LogTrace(L"Reboot required");
                // A removal has nothing to resume.
                resumeArmed = !theApp.m_bUninstall && ArmResume(cached);
                if (!resumeArmed && !theApp.m_bUninstall) {
                    // Not done, and nothing will finish it after the restart:
                    // said as a failed installation, so a deployment tool does
                    // not count the machine as done.
                    theApp.m_dwExitCode = kExitResumeNotArmed;
                    LogSystemError(kExitResumeNotArmed);
                    ReportError(InstallErrorException(kExitResumeNotArmed));
                }
                // Asked not to: the caller restarts, and the RunOnce entry
                // resumes the installation then. Otherwise the restart is
                // asked for once the setup window is gone (a person first
                // says whether now).
                if (theApp.m_bNoRestart) {
                    LogTrace(L"Restart left to the caller (NORESTART=YES)");
                } else {
                    theApp.m_bRestartDue = true;
                }
                break;
            default:
                LogSystemError(static_cast<DWORD>(result));
                throw InstallErrorException(result);
        }
    } catch (InstallErrorException& error) {
        ReportError(error);
    }
    request->package.Release();

    // A resume armed for the restart starts the launcher from the cache:
    // keep it. Nothing else will use it.
    if (!resumeArmed && cached.emptiable) {
        LogTrace(L"Deleting install source cache");
        DeleteInstallSourceCache(cached.cacheFolder);
    }

    // The last act, and the dialog's signal: the ownership goes, then the handle.
    owned.Release();
    mutex.reset();
    LogTrace(L"Exiting MsiThreadproc");
    return 1;
}
