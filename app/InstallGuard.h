#pragma once
#include <windows.h>

// Windows Installer's own objects, which its service makes in the global
// namespace; each is looked for there and then under the session's name.
inline constexpr wchar_t kPromptForCdMutexName[] = L"__MsiPromptForCD";
inline constexpr wchar_t kMsiExecuteMutexName[] = L"_MSIExecute";
inline constexpr wchar_t kInstallerInProgressKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\InProgress";

// The mutexes that announce this launcher's installation: the session's
// "__QXVSetupInProgress" and the machine-wide one. Both handles stay open
// to the end of the process on purpose (no owner), so later launchers
// refuse as long as this one runs; either may be null.
struct InstallAnnouncement {
    HANDLE session = nullptr;
    HANDLE machine = nullptr;
};

// Refuses while another installation is under way, and otherwise announces
// this one by owning both mutexes on the calling thread. True: go on; the
// caller releases them after the setup window has closed. False: the user
// has been told, ownership has been given up.
bool CheckInstallInProgress(InstallAnnouncement& announced);
