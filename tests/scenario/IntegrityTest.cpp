// Files of the product folder replaced by files that are not the product's
// own (unsigned, another publisher's, changed after signing), as a program
// that can write a download folder would: the signed launcher and the
// signed Pad refuse each before loading, starting or installing it, end
// with the check's result and name the file; an unsigned folder, as a
// development build makes it, checks nothing.
#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

constexpr DWORD kUnsigned = 0x800B0100;      // TRUST_E_NOSIGNATURE
constexpr DWORD kBadDigest = 0x80096010;     // TRUST_E_BAD_DIGEST
constexpr DWORD kOtherSigner = 0x800B0004;   // TRUST_E_SUBJECT_NOT_TRUSTED

// tests/trust/<variant>/<file>, made by the build from the signed files.
std::wstring Variant(const wchar_t* variant, const wchar_t* file) {
    return BuildDir() + L"tests\\trust\\" + variant + L"\\" + file;
}

struct Replacement {
    const wchar_t* file;
    const wchar_t* variant;
    DWORD code;
};

// Whether an ERROR record of the log names the refused file with the code.
bool RefusalLogged(const std::wstring& path, DWORD code) {
    char hex[16] = {};
    snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    bool wellFormed = false;
    std::string all;
    for (const auto& record : AllLogRecords(&wellFormed))
        if (record.type == "ERROR") all += record.text + "\n";
    return all.find("File refused, not signed as this program is: " + Narrow(path)) != std::string::npos &&
           all.find(std::string(" Code: ") + hex) != std::string::npos;
}

class IntegrityTest : public ScenarioTest {
protected:
    void SetUp() override {
        ScenarioTest::SetUp();
        UninstallProduct();
    }
    void TearDown() override { UninstallProduct(); }
};

TEST_F(IntegrityTest, QuietRunRefusesEachFileThatIsNotTheProductsOwn) {
    const Replacement cases[] = {
        {L"QXVInstallActions64.dll", L"unsigned", kUnsigned},  {L"QXVInstallActions64.dll", L"other", kOtherSigner},
        {L"QXVInstallActions64.dll", L"changed", kBadDigest},  {L"CustomActionData64.dll", L"unsigned", kUnsigned},
        {L"CustomActionData64.dll", L"other", kOtherSigner},   {L"CustomActionData64.dll", L"changed", kBadDigest},
        {L"QXPRP4005.msi", L"unsigned", kUnsigned},            {L"QXPRP4005.msi", L"other", kOtherSigner},
    };
    for (const Replacement& c : cases) {
        SCOPED_TRACE(Narrow(c.file) + " " + Narrow(c.variant));
        ClearLogs();
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyInto(Variant(c.variant, c.file), folder, c.file));
        Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP QUIET=YES");
        ASSERT_TRUE(p.Started());
        bool sawWindow = true;
        ASSERT_TRUE(WaitWatchingWindows(p, 60000, sawWindow)) << "the launcher did not end";
        EXPECT_FALSE(sawWindow) << "no window in a quiet run";
        EXPECT_EQ(p.ExitCode(), c.code);
        EXPECT_TRUE(RefusalLogged(folder + c.file, c.code));
        EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN) << "nothing installed";
        EXPECT_FALSE(Contains(LogTexts("TRACE"), "Starting MSIThreadProc")) << "refused before the worker";
    }
}

TEST_F(IntegrityTest, RefusalsAreShownInTheLaunchersOwnBox) {
    struct BoxCase {
        const char* what;
        const wchar_t* file;
        const wchar_t* variant;
        const wchar_t* args;
        const char* script;
        const wchar_t* notCalled;   // the record a double leaves when used
        DWORD code;
    };
    const BoxCase cases[] = {
        // The error module is the file refused: the launcher's box, not the module's.
        {"error module", kErrorModuleFile, L"other", L"CALLER=SETUP", "result=1603\n", L"report-record.txt",
         kOtherSigner},
        {"error module", kErrorModuleFile, L"unsigned", L"CALLER=SETUP", "result=1603\n", L"report-record.txt",
         kUnsigned},
        {"Pad", kPadFile, L"unsigned", L"", "result=0\n", L"pad-record.txt", kUnsigned},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.what + std::string(" ") + Narrow(c.variant));
        ClearLogs();
        const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
        WriteActionsScript(folder, c.script);
        ASSERT_TRUE(CopyInto(Variant(c.variant, c.file), folder, c.file));
        Process p = Process::Start(folder + kLauncherFile64, c.args);
        ASSERT_TRUE(p.Started());
        const Outcome outcome = WaitForEnd(p, 60000);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, c.code);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_NE(outcome.messages[0].find(folder + c.file), std::wstring::npos) << Narrow(outcome.messages[0]);
        EXPECT_FALSE(FileExists(folder + c.notCalled)) << "the refused file was used";
        EXPECT_TRUE(RefusalLogged(folder + c.file, c.code));
    }
}

TEST_F(IntegrityTest, PadStartsOnlyALauncherSignedAsItIs) {
    for (const auto& [variant, code] : {std::pair{L"unsigned", kUnsigned}, std::pair{L"other", kOtherSigner},
                                        std::pair{L"changed", kBadDigest}}) {
        SCOPED_TRACE(Narrow(variant));
        ClearLogs();
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyInto(ProductDir() + kPadFile, folder));
        ASSERT_TRUE(CopyInto(Variant(variant, kLauncherFile64), folder, kLauncherFile64));
        Process pad = Process::Start(folder + kPadFile, L"QUIET=YES");
        ASSERT_TRUE(pad.Started());
        bool sawWindow = true;
        ASSERT_TRUE(WaitWatchingWindows(pad, 60000, sawWindow)) << "the Pad did not end";
        EXPECT_FALSE(sawWindow) << "no box in a quiet run";
        EXPECT_EQ(pad.ExitCode(), code);
        EXPECT_TRUE(LogFiles().empty()) << "the launcher never ran";
    }
    {
        SCOPED_TRACE("with its box");
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyInto(ProductDir() + kPadFile, folder));
        ASSERT_TRUE(CopyInto(Variant(L"other", kLauncherFile64), folder, kLauncherFile64));
        Process pad = Process::Start(folder + kPadFile, L"");
        ASSERT_TRUE(pad.Started());
        const Outcome outcome = WaitForEnd(pad, 60000);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, kOtherSigner);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_NE(outcome.messages[0].find(L"not signed by the publisher of this setup"), std::wstring::npos)
            << Narrow(outcome.messages[0]);
        EXPECT_TRUE(LogFiles().empty()) << "the launcher never ran";
    }
}

TEST_F(IntegrityTest, AWhollyUnsignedFolderInstallsAsADevelopmentBuild) {
    const std::wstring folder = MakeShippedFolder(folder_);
    for (const wchar_t* file : {kLauncherFile64, L"QXVInstallActions64.dll", L"CustomActionData64.dll", kPackageFile})
        ASSERT_TRUE(CopyInto(Variant(L"unsigned", file), folder, file));
    Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP QUIET=YES");
    ASSERT_TRUE(p.Started());
    ASSERT_TRUE(p.Wait(120000)) << "the installation did not end";
    EXPECT_EQ(p.ExitCode(), 0u);
    EXPECT_EQ(ProductState(), INSTALLSTATE_DEFAULT);
    EXPECT_TRUE(LogTexts("ERROR").empty());
}

}  // namespace
}  // namespace qxtest
