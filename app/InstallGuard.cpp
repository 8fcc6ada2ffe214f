#include "app/InstallGuard.h"

#include "app/SetupApp.h"
#include "app/UserNotice.h"
#include "diag/Logger.h"
#include "framework/Ownership.h"
#include "framework/SystemMessage.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"

namespace {

bool MutexExists(const wchar_t* name) {
    const qx::UniqueHandle mutex(OpenMutexW(MUTEX_MODIFY_STATE, FALSE, name));
    return static_cast<bool>(mutex);
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

bool CheckInstallInProgress(HANDLE& installMutex) {
    bool refuse = false;

    if (qx::RegistryKeyOpens(HKEY_LOCAL_MACHINE, kInstallerInProgressKey))
        LogTrace(L"Another Installation is In Progress (InProgress Key is present)");

    if (MutexExists(kInstallMutexName)) {
        LogTrace(L"Another Installation is In Progress (__QXVSetupInProgress Mutex is present)");
        refuse = true;
    }

    // Two launchers can both find the mutex absent above; the one whose
    // creation finds it already there does not own it and must refuse too.
    // The handle is kept open to the end of the process on purpose, so no
    // owner: other launchers refuse as long as this one runs.
    SetLastError(ERROR_SUCCESS);
    installMutex = CreateMutexW(nullptr, TRUE, kInstallMutexName);
    if (installMutex && GetLastError() == ERROR_ALREADY_EXISTS && !refuse) {
        LogTrace(L"Another Installation is In Progress (__QXVSetupInProgress Mutex is present)");
        refuse = true;
    }

    if (MutexExists(kPromptForCdMutexName)) {
        LogTrace(L"Another Installation is In Progress (__MsiPromptForCD Mutex is present)");
        refuse = true;
    }

    if (MutexExists(kMsiExecuteMutexName)) {
        LogTrace(L"Another Installation is In Progress (_MSIExecute Mutex is present)");
        refuse = true;
    }

    if (!refuse) return true;

    ShowRefusal();
    // Gives up ownership when this launcher created the mutex; when it was
    // another launcher's, the call changes nothing.
    qx::MutexGuard giveUp(installMutex);
    return false;
}
