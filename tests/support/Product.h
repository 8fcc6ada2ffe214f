#pragma once
// What the tests know of the product and of the system it writes to. The
// product's names, keys and switches come from its own headers; the names
// below belong to Windows, Windows Installer or Wine, or to the launcher's
// windows as a person sees them.
#include <windows.h>

#include "cache/PendingDeletions.h"   // the deletions pending for the next restart
#include "res/ProductIdentity.h"
#include "res/Switches.h"
#include "worker/RunOnce.h"   // the Run and RunOnce keys

namespace qxtest {

// Windows Installer's mark of an installation under way (HKLM).
inline constexpr wchar_t kInProgressKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\InProgress";

// Where the shell keeps the common application-data folder (HKLM), and the
// value a fresh Windows holds there.
inline constexpr wchar_t kUserShellFoldersKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
inline constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr wchar_t kCommonAppDataValue[] = L"Common AppData", kCommonAppDataDefault[] = L"%ProgramData%";

// Wine's per-program settings for the launcher (HKCU): a test that makes
// it prefer a planted DLL over Wine's own writes its DllOverrides here.
inline constexpr wchar_t kLauncherAppDefaultsKey[] = L"Software\\Wine\\AppDefaults\\QXVSetup64.exe";

// Captions: the launcher's message boxes, the Pad's in English, and the
// installer's disc prompt.
inline constexpr wchar_t kLauncherCaption[] = L"QXVSetup64", kDiscPromptCaption[] = L"Files Needed";
inline constexpr wchar_t kPadCaption[] = L"QX Prism P4000 Series Setup";

}  // namespace qxtest
