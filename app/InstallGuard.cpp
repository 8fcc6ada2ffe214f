#include "app/InstallGuard.h"

#include <string>

#include "app/SetupApp.h"
#include "app/UserNotice.h"
#include "diag/Logger.h"
#include "framework/ObjectSecurity.h"
#include "framework/Ownership.h"
#include "framework/SystemMessage.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"

namespace {

// Found when it can be opened, and also when it exists but shuts out the
// access asked for: it is there all the same.
bool MutexExists(const wchar_t* name) {
    const qx::UniqueHandle mutex(OpenMutexW(MUTEX_MODIFY_STATE, FALSE, name));
    return mutex || GetLastError() == ERROR_ACCESS_DENIED;
}

// Windows Installer's object where its service makes it, then under the
// session's name.
bool InstallerMutexExists(const wchar_t* name) {
    return MutexExists((std::wstring(L"Global\\") + name).c_str()) || MutexExists(name);
}

void ShowRefusal() {
    // The system's own text, as the system gives it; ours where it has none.
    const std::wstring text = qx::SystemMessage(ERROR_INSTALL_ALREADY_RUNNING, 60);
    if (!text.empty())
        TellUser(text, text);
    else
        TellUser(ProductText(theApp.m_hResModule, kIdsAlreadyRunning),
                 ProductTextForLog(theApp.m_hResModule, kIdsAlreadyRunning));
}

}  // namespace

bool CheckInstallInProgress(InstallAnnouncement& announced) {
    bool refuse = false;

    if (qx::RegistryKeyOpens(HKEY_LOCAL_MACHINE, kInstallerInProgressKey))
        LogTrace(L"Another Installation is In Progress (InProgress Key is present)");

    if (MutexExists(kInstallMutexName)) {
        LogTrace(L"Another Installation is In Progress (__QXVSetupInProgress Mutex is present)");
        refuse = true;
    }

    // Two launchers can both find the mutex absent above; the one whose
    // creation finds it already there does not own it and must refuse too.
    SetLastError(ERROR_SUCCESS);
    announced.session = CreateMutexW(nullptr, TRUE, kInstallMutexName);
    if (announced.session && GetLastError() == ERROR_ALREADY_EXISTS && !refuse) {
        LogTrace(L"Another Installation is In Progress (__QXVSetupInProgress Mutex is present)");
        refuse = true;
    }

    // A launcher of another session (the co-installer's in session 0, a
    // person's at the desktop) installs into the same cache and resume.
    qx::MachineName machine = qx::MachineName::kOwn;
    announced.machine = qx::CreateMachineWideMutex(kMachineInstallMutexName, machine).release();
    // Said once: a launcher of this session was found already.
    if (machine == qx::MachineName::kInUse && !refuse) {
        LogTrace(L"Another Installation is In Progress (%s Mutex is present)", kMachineInstallMutexName);
        refuse = true;
    } else if (machine == qx::MachineName::kSquatted) {
        LogTrace(L"Machine-wide installation mutex name already in use by another program; not used");
    }

    if (InstallerMutexExists(kPromptForCdMutexName)) {
        LogTrace(L"Another Installation is In Progress (__MsiPromptForCD Mutex is present)");
        refuse = true;
    }

    if (InstallerMutexExists(kMsiExecuteMutexName)) {
        LogTrace(L"Another Installation is In Progress (_MSIExecute Mutex is present)");
        refuse = true;
    }

    if (!refuse) return true;

    ShowRefusal();
    // Gives up ownership of what this launcher created; of a mutex another
    // launcher made, the calls change nothing.
    qx::MutexGuard giveUpSession(announced.session);
    qx::MutexGuard giveUpMachine(announced.machine);
    return false;
}
