#include "ui/FirstTickPreparation.h"

#include <string>

#include "framework/Ownership.h"
#include "modules/CompanionModules.h"
#include "res/ProductIdentity.h"
#include "ui/MsiBinding.h"

namespace {

qx::CheckAhead g_package;

DWORD WINAPI BindMsiProc(void*) {
    Msi();
    return 0;
}

// The crypto libraries load for the program's own signature; the checks
// follow in the order the first tick needs them.
DWORD WINAPI CheckFilesProc(void*) {
    qx::OwnSignature();
    CheckCompanionAhead(Companion::kInstallActions);
    CheckCompanionAhead(Companion::kCustomActionData);
    const std::wstring package = LauncherFilePath(kPackageFile);
    if (!package.empty()) g_package.Run(package.c_str());
    return 0;
}

}  // namespace

// Not waited for: each user of what the threads make waits on that alone.
void CheckProductFilesInBackground() {
    qx::UniqueHandle thread(CreateThread(nullptr, 0, CheckFilesProc, nullptr, 0, nullptr));
}

void BindInstallerInBackground() {
    qx::UniqueHandle thread(CreateThread(nullptr, 0, BindMsiProc, nullptr, 0, nullptr));
}

qx::CheckedFile TakePackageCheck(const wchar_t* path) { return g_package.Take(path); }
