// The shipped modules and package behind the real launcher: the product
// ends up installed, and the log holds the launcher's and the module's
// records, all whole.
#include <windows.h>
#include <msi.h>

#include <algorithm>

#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

constexpr wchar_t kProductCode[] = L"{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}";

class RealInstallTest : public ScenarioTest {
protected:
    void SetUp() override {
        ScenarioTest::SetUp();
        Uninstall();
    }
    void TearDown() override { Uninstall(); }
    static void Uninstall() {
        if (MsiQueryProductStateW(kProductCode) == INSTALLSTATE_DEFAULT) {
            MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
            MsiConfigureProductW(kProductCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
        }
    }
    std::wstring ShippedFolder() {
        const std::wstring folder = MakeLauncherFolder(folder_, kWithResourceModule | kWithRealModules);
        EXPECT_TRUE(CopyInto(ProductDir() + L"QXPRP4005.msi", folder));
        return folder;
    }
};

bool Has(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_F(RealInstallTest, LauncherInstallsTheProductAndAgainCleanly) {
    const std::wstring folder = ShippedFolder();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first installation" : "second run on the installed product");
        ClearLogs();
        Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
        ASSERT_TRUE(p.Started());
        ASSERT_TRUE(p.Wait(120000)) << "the installation did not end";
        EXPECT_EQ(MsiQueryProductStateW(kProductCode), INSTALLSTATE_DEFAULT);
        auto texts = LogTexts();   // also checks that every record is whole
        EXPECT_TRUE(Has(texts, "Inside QXVSetup.exe"));
        EXPECT_TRUE(Has(texts, "In DoInstallActions: CALLER=SETUP")) << "the module writes into the same log";
        EXPECT_TRUE(Has(texts, "Exiting MsiThreadproc"));
        EXPECT_TRUE(LogTexts("ERROR").empty()) << "no failure on either run";
    }
    EXPECT_TRUE(FileExists(L"C:\\Program Files\\Selkirk-Vane\\QX Prism P4000 Series\\QXPRP4005.inf"));
}

TEST_F(RealInstallTest, CancelledInstallationIsReported) {
    // The installer's cancel code from the module, as a person's cancel gives it.
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=1602\n");
    RunToEnd(folder, L"CALLER=SETUP");
    auto errors = LogTexts("ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("===>>> ERROR :\r\n Code: 1602\r\nMsg: ", 0), 0u);
    EXPECT_NE(ReadUtf8(folder + L"report-record.txt").find(L"message="), std::wstring::npos);
}

}  // namespace
}  // namespace qxtest
