#include "ui/FirstTickPreparation.h"

#include <string>

#include "framework/Ownership.h"
#include "modules/CompanionModules.h"
#include "res/ProductIdentity.h"
#include "ui/MsiBinding.h"

namespace {

qx::CheckAhead g_package;

DWORD WINAPI PrepareProc(void*) {
    Msi();
    qx::OwnSignature();
    const std::wstring package = LauncherFilePath(kPackageFile);
    if (!package.empty()) g_package.Run(package.c_str());
    CheckCompanionAhead(Companion::kInstallActions);
    CheckCompanionAhead(Companion::kCustomActionData);
    return 0;
}

}  // namespace

void PrepareFirstTickInBackground() {
    // Not waited for: each user of what it makes waits on that alone.
    qx::UniqueHandle thread(CreateThread(nullptr, 0, PrepareProc, nullptr, 0, nullptr));
}

qx::CheckedFile TakePackageCheck(const wchar_t* path) { return g_package.Take(path); }
