#pragma once
#include <windows.h>

inline constexpr wchar_t kPromptForCdMutexName[] = L"__MsiPromptForCD";
inline constexpr wchar_t kMsiExecuteMutexName[] = L"_MSIExecute";
inline constexpr wchar_t kInstallerInProgressKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\InProgress";

// Refuses while another installation is under way, and otherwise announces
// this one by owning "__QXVSetupInProgress" on the calling thread.
// True: go on; the caller releases installMutex after the setup window has
// closed. False: the user has been told, ownership has been given up.
bool CheckInstallInProgress(HANDLE& installMutex);
