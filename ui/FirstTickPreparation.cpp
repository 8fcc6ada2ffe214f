#include "ui/FirstTickPreparation.h"

#include <string>

#include "framework/Ownership.h"
#include "modules/CompanionModules.h"
#include "res/ProductIdentity.h"
#include "ui/MsiBinding.h"

namespace {

// The package beside the launcher as the read ahead left it; taken once.
SRWLOCK g_packageLock = SRWLOCK_INIT;
bool g_packageTaken = false;
bool g_packagePrepared = false;
PreparedPackage g_package;

// The package's check, made on the modules' thread while the other binds
// the installer, and taken by the read.
qx::CheckAhead g_packageCheck;
bool g_checkPackage = false;

// The files the first tick needs, checked in the order it needs them: in a
// signed launcher each against its release's pin (a hash, no crypto
// library), the package last (the largest) while the installer is bound.
DWORD WINAPI CheckModulesProc(void*) {
    CheckCompanionAhead(Companion::kInstallActions);
    CheckCompanionAhead(Companion::kCustomActionData);
    if (g_checkPackage) {
        const std::wstring path = LauncherFilePath(kPackageFile);
        if (!path.empty()) g_packageCheck.Run(path.c_str());
    }
    return 0;
}

DWORD WINAPI BindMsiProc(void*) {
    Msi();
    return 0;
}

// The installer's binding, then the package: its check taken from the
// other thread (waited for when still under way), and read through the
// same calls the first tick makes, while the file stays held.
DWORD WINAPI ReadPackageProc(void*) {
    Msi();
    const std::wstring path = LauncherFilePath(kPackageFile);
    AcquireSRWLockExclusive(&g_packageLock);
    if (!g_packageTaken && !path.empty()) {
        g_package.file = g_packageCheck.Take(path.c_str());
        if (g_package.file.Passed()) {
            g_package.result = ReadProductInfoUnlogged(g_package.file.UsablePath(), g_package.productName,
                                                       g_package.productCode, g_package.manufacturer);
            g_package.read = true;
        }
        g_packagePrepared = true;
    }
    ReleaseSRWLockExclusive(&g_packageLock);
    return 0;
}

}  // namespace

// Kept so that the process does not end while they are inside the crypto
// or installer libraries (Wine left another launcher's check hanging when
// one ended so).
qx::UniqueHandle g_threads[2];

void PrepareFirstTickInBackground(bool readPackage) {
    g_checkPackage = readPackage;
    // Not waited for here: each user of what the threads make waits on that alone.
    g_threads[0].reset(CreateThread(nullptr, 0, CheckModulesProc, nullptr, 0, nullptr));
    g_threads[1].reset(CreateThread(nullptr, 0, readPackage ? ReadPackageProc : BindMsiProc, nullptr, 0, nullptr));
}

void WaitForFirstTickPreparation(DWORD timeoutMs) {
    HANDLE threads[2];
    DWORD n = 0;
    for (const auto& t : g_threads)
        if (t) threads[n++] = t.get();
    if (n) WaitForMultipleObjects(n, threads, TRUE, timeoutMs);
}

PreparedPackage TakePreparedPackage(const wchar_t* path) {
    PreparedPackage taken;
    AcquireSRWLockExclusive(&g_packageLock);
    const bool same = g_packagePrepared && !g_packageTaken && path &&
                      _wcsicmp(g_package.file.AskedPath().c_str(), path) == 0;
    if (same) taken = std::move(g_package);
    // Taken once: a later read, of another path or a second time, is made
    // by the caller, and a read ahead that comes too late makes none.
    g_packageTaken = true;
    g_package = PreparedPackage();
    ReleaseSRWLockExclusive(&g_packageLock);
    if (!same) taken.file = qx::CheckedFile::Open(path);
    return taken;
}
