#include "tests/support/Harness.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include "framework/NativeMachine.h"
#include "tests/support/Links.h"

namespace qxtest {

std::wstring MakeLauncherFolder(const std::wstring& path, unsigned contents) {
    std::wstring folder = path;
    if (folder.back() != L'\\') folder += L'\\';
    RemoveTree(folder);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    const std::wstring product = ProductDir();
    const bool withDoubles =
        (contents & (kWithRecordingPad | kWithScriptedActions | kWithRecordingReporter | kWithPackage)) != 0;
    EXPECT_TRUE(CopyInto(withDoubles ? UnsignedLauncher() : product + kLauncherFile64, folder, kLauncherFile64));
    EXPECT_TRUE(CopyInto(product + L"CustomActionData64.dll", folder));
    if (contents & kWithResourceModule) {
        EXPECT_TRUE(CopyInto(product + kResourceModuleFile, folder));
    }
    if (contents & kWithRealModules) {
        EXPECT_TRUE(CopyInto(product + L"QXVInstallActions64.dll", folder));
        EXPECT_TRUE(CopyInto(product + kErrorModuleFile, folder));
    }
    if (contents & kWithScriptedActions) {
        EXPECT_TRUE(CopyInto(DoublesDir() + L"actions\\QXVInstallActions64.dll", folder));
    }
    if (contents & kWithRecordingReporter) {
        EXPECT_TRUE(CopyInto(DoublesDir() + L"reporter\\" + kErrorModuleFile, folder));
    }
    if (contents & kWithPackage) {
        EXPECT_TRUE(CopyInto(FixturesDir() + kPackageFile, folder));
    }
    if (contents & kWithRecordingPad) {
        EXPECT_TRUE(CopyInto(DoublesDir() + L"pad\\" + kPadFile, folder));
    }
    return folder;
}

std::wstring MakeShippedFolder(const std::wstring& path) {
    const std::wstring folder = MakeLauncherFolder(path, kWithResourceModule | kWithRealModules);
    EXPECT_TRUE(CopyInto(ProductDir() + kPackageFile, folder));
    return folder;
}

std::wstring MakeDevelopmentFolder(const std::wstring& path) {
    const std::wstring folder = MakeShippedFolder(path);
    EXPECT_TRUE(CopyInto(UnsignedLauncher(), folder, kLauncherFile64));
    EXPECT_TRUE(CopyPadInto(folder));
    return folder;
}

StartOptions OnArm64(const std::wstring& program, const std::wstring& args) {
    StartOptions options;
    options.commandLine = L"\"" + program + L"\"" + (args.empty() ? L"" : L" " + args);
    options.environment[qx::kNativeMachineVariable] = L"AA64";
    return options;
}

bool CopyPadInto(const std::wstring& folder) {
    const bool signedLauncher = ReadBytes(folder + kLauncherFile64) == ReadBytes(ProductDir() + kLauncherFile64);
    return CopyInto(signedLauncher ? ProductDir() + kPadFile : BuildDir() + L"tests\\unsigned\\" + kPadFile, folder);
}

std::wstring ModuleTail(const std::wstring& packageFolder, const std::wstring& tail) {
    const std::wstring handed = L"PACKAGE=\"" + packageFolder + kPackageFile + L"\"";
    return tail.empty() ? handed : handed + L" " + tail;
}

void WriteActionsScript(const std::wstring& folder, const std::string& script) {
    ASSERT_TRUE(PutFile(folder + L"actions-script.txt", script)) << Narrow(folder);
}

void RemoveCache() { RemoveTreeNoFollow(CommonAppData() + L"\\" + kManufacturer + L"\\"); }

INSTALLSTATE ProductState() { return MsiQueryProductStateW(kProductGuid); }

bool ProductInstalled() { return ProductState() == INSTALLSTATE_DEFAULT; }

void UninstallProduct() {
    if (ProductState() == INSTALLSTATE_UNKNOWN) return;
    const INSTALLUILEVEL previous = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductW(kProductGuid, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    MsiSetInternalUI(previous, nullptr);
}

}  // namespace qxtest
