// What every scenario relies on: the known state it starts from, whatever
// the scenario before it left behind, and a scripted install-actions
// module that follows its own scenario's script or none at all.
#include <shlobj.h>

#include "tests/scenario/ScenarioTest.h"
#include "tests/support/Links.h"

namespace qxtest {
namespace {

class KnownStateTest : public ScenarioTest {};

std::wstring ExpandedProgramData() {
    wchar_t path[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%ProgramData%", path, MAX_PATH);
    return path;
}

TEST_F(KnownStateTest, ResetPutsBackWhatAScenarioLeftBehind) {
    // The product installed, and what a scenario that died half-way leaves.
    const std::wstring shipped = MakeShippedFolder(folder_);
    WriteActionsScript(shipped, "result=1603\n");
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ASSERT_EQ(MsiInstallProductW((shipped + kPackageFile).c_str(), L""), 0u);
    ASSERT_TRUE(ProductInstalled());
    const std::wstring installed = ShellFolder(CSIDL_PROGRAM_FILES) + L"\\" + kManufacturer;
    ASSERT_TRUE(PathExists(installed));

    const std::wstring source = shipped;
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSourceRecordKey, kSourcePathValue, REG_SZ, source.c_str(),
                         static_cast<DWORD>(source.size() * sizeof(wchar_t))));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"Marker", 1));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kLogLevelKey, kLogLevelValue, 2));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, 1));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, 1));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kInProgressKey, L"Marker", 1));
    const wchar_t order[] = L"native,builtin";
    ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, std::wstring(kLauncherAppDefaultsKey) + L"\\DllOverrides", L"msi", REG_SZ,
                         order, sizeof order));
    ASSERT_TRUE(PutFile(CacheFolder() + kLauncherFile64, "cached"));
    ASSERT_TRUE(MoveFileExW((CacheFolder() + kLauncherFile64).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(PutFile(LogFolder() + L"~qx1.log", "log"));
    ASSERT_TRUE(PutFile(DoublesDir() + L"actions\\actions-script.txt", "result=1603\n"));
    ASSERT_TRUE(PutFile(L"C:\\qxstress-victim\\victim.dll", "victim"));
    // Last, as it moves the common application-data folder away.
    const wchar_t missing[] = L"C:\\qxtest-unit\\no-such-folder\\ProgramData";
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kUserShellFoldersKey, kCommonAppDataValue, REG_SZ, missing,
                         sizeof missing));
    ASSERT_EQ(CommonAppData(), L"") << "the shell finds no such folder";

    ASSERT_TRUE(ResetKnownState());

    EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN);
    EXPECT_FALSE(PathExists(installed));
    EXPECT_EQ(CommonAppData(), ExpandedProgramData());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSourceRecordKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPendingRebootKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kLogLevelKey));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kRunKey, kRunValue));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kInProgressKey));
    EXPECT_TRUE(PendingRenames().empty()) << "a boot of the prefix would delete what is pending";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kLauncherAppDefaultsKey));
    EXPECT_FALSE(PathExists(CommonAppData() + L"\\" + kManufacturer)) << "the cache with its manufacturer level";
    EXPECT_TRUE(LogFiles().empty());
    EXPECT_FALSE(PathExists(DoublesDir() + L"actions\\actions-script.txt"));
    EXPECT_TRUE(FileExists(DoublesDir() + L"actions\\QXVInstallActions64.dll")) << "the double itself stays";
    EXPECT_FALSE(PathExists(L"C:\\qxstress-victim"));
    EXPECT_FALSE(PathExists(shipped)) << "the scenario's folder with its script";
}

TEST_F(KnownStateTest, ResetRemovesALinkInTheLogFoldersPlaceAndLeavesItsTarget) {
    const std::wstring target = folder_ + L"target\\";
    ASSERT_TRUE(PutFile(target + L"kept.txt", "kept"));
    std::wstring logFolder = LogFolder();
    logFolder.pop_back();
    RemoveTreeNoFollow(logFolder);
    ASSERT_TRUE(MakeLink(logFolder, target));

    ASSERT_TRUE(ResetProductState());

    EXPECT_EQ(GetFileAttributesW(logFolder.c_str()), INVALID_FILE_ATTRIBUTES) << "the link is gone";
    EXPECT_EQ(ReadBytes(target + L"kept.txt"), "kept") << "and what it pointed at is not touched";
}

TEST_F(KnownStateTest, AScriptedModuleWithoutItsScriptFailsVisiblyAndTakesNoOther) {
    // Another scenario's folder and script, named by a source record this
    // run does not replace: another vendor's package leaves the cache, and
    // so the record, unused.
    const std::wstring other = MakeLauncherFolder(folder_ + L"other\\", kInstallScenario);
    WriteActionsScript(other, "result=0\n");
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSourceRecordKey, kSourcePathValue, REG_SZ, other.c_str(),
                         static_cast<DWORD>(other.size() * sizeof(wchar_t))));
    const std::wstring folder = MakeLauncherFolder(folder_ + L"own\\", kInstallScenario & ~kWithPackage);
    ASSERT_TRUE(CopyInto(BuildDir() + L"tests\\stress\\packages\\OtherProduct.msi", folder, kPackageFile));

    Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP");
    ASSERT_TRUE(p.Started());
    ASSERT_TRUE(p.Wait(kStartTimeoutMs)) << "the launcher did not end";

    EXPECT_EQ(p.ExitCode(), static_cast<DWORD>(ERROR_NOT_FOUND)) << "the module's fixed result without a script";
    const auto calls = RecordLines(folder + L"actions-record.txt");
    ASSERT_EQ(calls.size(), 1u) << "the call is recorded beside the module";
    EXPECT_EQ(RecordField(calls[0], L"script"), L"none");
    EXPECT_FALSE(FileExists(other + L"actions-record.txt")) << "the other scenario's script was not followed";
    EXPECT_EQ(Occurrences(ReadUtf8(folder + L"report-record.txt"), L"message="), 1u) << "the failure is reported";
}

}  // namespace
}  // namespace qxtest
