// The shipped modules and package behind the real launcher: the product
// ends up installed, and the log holds the launcher's and the module's
// records, all whole.
#include <windows.h>
#include <msi.h>
#include <aclapi.h>

#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

class RealInstallTest : public ScenarioTest {};

// Whether the cache folder the first run made still reads back as owned by
// Administrators, as it was created.
bool CacheOwnerKept() {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(CacheFolder().c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool administrators = IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    LocalFree(descriptor);
    return administrators;
}

TEST_F(RealInstallTest, LauncherInstallsTheProductAndAgainCleanly) {
    // Only a product that was absent shows that the launcher installed it.
    ASSERT_NE(MsiQueryProductStateW(kProductGuid), INSTALLSTATE_DEFAULT) << "installed before the launcher ran";
    ASSERT_FALSE(FileExists(L"C:\\Program Files\\Selkirk-Vane\\QX Prism P4000 Series\\QXPRP4005.inf"));
    const std::wstring folder = MakeShippedFolder(folder_);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first installation" : "second run on the installed product");
        ClearLogs();
        Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
        ASSERT_TRUE(p.Started());
        ASSERT_TRUE(p.Wait(120000)) << "the installation did not end";
        EXPECT_EQ(ProductState(), INSTALLSTATE_DEFAULT);
        auto texts = LogTexts();   // also checks that every record is whole
        EXPECT_TRUE(Contains(texts, "Inside QXVSetup.exe"));
        EXPECT_TRUE(Contains(texts, Narrow(L"In DoInstallActions: " + ModuleTail(folder, L"CALLER=SETUP"))))
            << "the module writes into the same log, and is handed the package the launcher read";
        EXPECT_TRUE(Contains(texts, "Exiting MsiThreadproc"));
        const auto errors = LogTexts("ERROR");
        if (run == 0 || CacheOwnerKept()) {
            EXPECT_TRUE(errors.empty()) << "no failure on either run";
        } else {
            // A file system that does not keep the owner the launcher gave
            // the cache shows it owned by the user: then the second run
            // rightly does not trust it, and says so, and nothing else.
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0],
                      "Install source cache not used: manufacturer level is not owned by Administrators, SYSTEM or TrustedInstaller");
        }
    }
    EXPECT_TRUE(FileExists(L"C:\\Program Files\\Selkirk-Vane\\QX Prism P4000 Series\\QXPRP4005.inf"));
}

TEST_F(RealInstallTest, QuietInstallationShowsNoWindowAndEndsWithZero) {
    ASSERT_NE(MsiQueryProductStateW(kProductGuid), INSTALLSTATE_DEFAULT) << "installed before the launcher ran";
    const std::wstring folder = MakeShippedFolder(folder_);
    Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP QUIET=YES");
    ASSERT_TRUE(p.Started());
    bool sawWindow = true;
    ASSERT_TRUE(WaitWatchingWindows(p, 120000, sawWindow)) << "the installation did not end";
    EXPECT_FALSE(sawWindow) << "neither the hourglass nor the installer's progress window";
    EXPECT_EQ(p.ExitCode(), 0u);
    EXPECT_EQ(ProductState(), INSTALLSTATE_DEFAULT);
    EXPECT_TRUE(LogTexts("ERROR").empty());
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
