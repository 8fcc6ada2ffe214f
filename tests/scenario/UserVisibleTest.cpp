// What the person installing sees come and go: the popup gone as soon as
// the install-actions module lets go of the lock, while the installation
// still runs; and the shipped error-reporting module's message box when the
// installation fails.
#include "framework/Ownership.h"
#include "tests/scenario/ScenarioTest.h"
#include "tests/support/ActionsPause.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

constexpr wchar_t kErrorBoxCaption[] = L"QX Prism P4000 Series";

class UserVisibleTest : public ScenarioTest {};

TEST_F(UserVisibleTest, PopupIsGoneOnceTheModuleLetsGoWhileTheInstallationGoesOn) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\npause_before_unlock=1\npause_after_unlock=1\n");
    const ActionsPause holding(kPauseBeforeUnlock);
    const ActionsPause letGo(kPauseAfterUnlock);
    Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
    ASSERT_TRUE(p.Started());

    // While the module holds the lock, the popup is up.
    ASSERT_TRUE(holding.Reached(kHangGuardMs)) << "the module was never called";
    EXPECT_TRUE(WaitUntil([&] { return HasVisibleWindow(p.Id()); })) << "no popup while the module holds the lock";

    // Once it has let go, no window of the launcher is visible, though the
    // installation has not ended.
    holding.Go();
    ASSERT_TRUE(letGo.Reached(kHangGuardMs));
    EXPECT_TRUE(WaitUntil([&] { return !HasVisibleWindow(p.Id()); })) << "the popup stays after the module let go";
    EXPECT_FALSE(p.Wait(0)) << "the installation is still under way";
    EXPECT_FALSE(HasVisibleWindow(p.Id()));

    letGo.Go();
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));
    EXPECT_EQ(p.ExitCode(), 0u);
}

TEST_F(UserVisibleTest, ShippedErrorModuleShowsTheFailureInItsMessageBox) {
    struct Case {
        const char* name;
        int result;
        std::wstring shown;   // what the box says
    };
    const std::wstring catalog = ResourceString(ProductDir() + L"QXVSetupRES64.dll", 15016);
    ASSERT_FALSE(catalog.empty());
    const Case cases[] = {
        {"an installer failure: the system's text", 1603, SystemText(1603)},
        {"the driver package refused: the product's own text", static_cast<int>(0x800F1000), catalog},
        {"a code without any text", 0x20001234, L"The installation could not be completed."},
    };
    const std::wstring folder =
        MakeLauncherFolder(folder_, kWithResourceModule | kWithScriptedActions | kWithPackage | kWithRecordingPad);
    ASSERT_TRUE(CopyInto(ProductDir() + L"QXPRP4005P64.dll", folder)) << "the shipped error-reporting module";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.shown.empty());
        ClearLogs();
        WriteActionsScript(folder, "result=" + std::to_string(c.result) + "\n");
        Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
        ASSERT_TRUE(p.Started());
        HWND box = WaitForBoxOf(p, kErrorBoxCaption);
        ASSERT_NE(box, nullptr) << "no message box captioned with the product's name";
        EXPECT_EQ(Words(ControlText(box, 0xFFFF)), Words(c.shown));
        EXPECT_FALSE(p.Wait(0)) << "the launcher waits for the box to be answered";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(p.Wait(kStartTimeoutMs)) << "did not end after the box was answered";
        EXPECT_EQ(p.ExitCode(), static_cast<DWORD>(c.result));
        EXPECT_FALSE(FileExists(CacheFolder() + L"QXVSetup64.exe")) << "the failure still empties the cache";
    }
}

}  // namespace
}  // namespace qxtest
