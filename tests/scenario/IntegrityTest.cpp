// Files of the product folder replaced by files that are not this
// release's own (unsigned, another publisher's, changed after signing,
// signed by a certificate that has expired, another release signed by the
// product's own certificate), as a program
// that can write a download folder would: the signed launcher and the
// signed Pad refuse each before loading, starting or installing it, end
// with the check's result (1306 for a file its release pins) and name the
// file; an unsigned folder, as a development build makes it, checks nothing.
#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

constexpr DWORD kUnsigned = 0x800B0100;      // TRUST_E_NOSIGNATURE
constexpr DWORD kBadDigest = 0x80096010;     // TRUST_E_BAD_DIGEST
constexpr DWORD kOtherSigner = 0x800B0004;   // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr DWORD kExpired = 0x800B0101;       // CERT_E_EXPIRED: no timestamp from within the certificate's validity
constexpr DWORD kNotThisRelease = 1306;      // ERROR_REVISION_MISMATCH: a pinned file not of this release
constexpr DWORD kHeldForDeletion = 32;       // ERROR_SHARING_VIOLATION: another program holds it with delete access

// tests/trust/<variant>/<file>, made by the build from the signed files.
std::wstring Variant(const wchar_t* variant, const wchar_t* file) {
    return BuildDir() + L"tests\\trust\\" + variant + L"\\" + file;
}

struct Replacement {
    const wchar_t* file;
    const wchar_t* variant;
    DWORD code;
};

// Whether an ERROR record of the log names the refused file with the code
// (and, for a file of another release, this release and the file's version).
bool RefusalLogged(const std::wstring& path, DWORD code, const char* fileVersion = "") {
    char hex[16] = {};
    snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    bool wellFormed = false;
    std::string all;
    for (const auto& record : AllLogRecords(&wellFormed))
        if (record.type == "ERROR") all += record.text + "\n";
    const std::string named = code == kNotThisRelease ? "File refused, not of this release (" + Narrow(kProductVersion) +
                                                            "): " + Narrow(path) + "\r\n File version: " + fileVersion
                              : code == kHeldForDeletion ? "File refused, it could not be checked: " + Narrow(path)
                              : code == kExpired         ? "File refused, signature expired: " + Narrow(path)
                                                         : "File refused, not signed as this program is: " + Narrow(path);
    return all.find(named) != std::string::npos && all.find(std::string(" Code: ") + hex) != std::string::npos;
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
    // Each is pinned by the launcher: whatever is wrong with it, it is not this release's.
    const Replacement cases[] = {
        {L"QXVInstallActions64.dll", L"unsigned", kNotThisRelease}, {L"QXVInstallActions64.dll", L"other", kNotThisRelease},
        {L"QXVInstallActions64.dll", L"changed", kNotThisRelease},  {L"QXVInstallActions64.dll", L"release", kNotThisRelease},
        {L"CustomActionData64.dll", L"unsigned", kNotThisRelease},  {L"CustomActionData64.dll", L"other", kNotThisRelease},
        {L"CustomActionData64.dll", L"changed", kNotThisRelease},   {L"CustomActionData64.dll", L"release", kNotThisRelease},
        {L"QXPRP4005.msi", L"unsigned", kNotThisRelease},           {L"QXPRP4005.msi", L"other", kNotThisRelease},
        {L"QXPRP4005.msi", L"release", kNotThisRelease},
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
        // A binary names its version (set back in one of another release); a package has none.
        const std::string version = std::wstring(c.file) == kPackageFile         ? "none"
                                    : std::wstring(c.variant) == L"release" ? "0.9.0.0"
                                                                            : Narrow(kProductVersion);
        EXPECT_TRUE(RefusalLogged(folder + c.file, c.code, version.c_str()));
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
        DWORD code;
        const char* fileVersion;   // in the record of a file of another release
    };
    // The error module is the file refused (it reports the package not
    // found where the person pointed the disc prompt): the launcher's box,
    // not the module's. The launcher cannot pin the Pad that pins it: it takes a Pad
    // signed as it is and of its own release's version.
    const BoxCase cases[] = {
        {"error module", kErrorModuleFile, L"other", L"CALLER=SETUP", kNotThisRelease, "none"},
        {"error module", kErrorModuleFile, L"release", L"CALLER=SETUP", kNotThisRelease, "0.9.0.0"},
        {"Pad", kPadFile, L"unsigned", L"", kUnsigned, ""},
        {"Pad", kPadFile, L"other", L"", kOtherSigner, ""},
        {"Pad", kPadFile, L"expired", L"", kExpired, ""},
        {"Pad", kPadFile, L"expired-late", L"", kExpired, ""},
        {"Pad", kPadFile, L"release", L"", kNotThisRelease, "0.9.0.0"},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.what + std::string(" ") + Narrow(c.variant));
        ClearLogs();
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(DeleteFileW((folder + kPackageFile).c_str()));
        ASSERT_TRUE(CopyInto(Variant(c.variant, c.file), folder, c.file));
        Process p = Process::Start(folder + kLauncherFile64, c.args);
        ASSERT_TRUE(p.Started());
        // The person points the disc prompt at a folder without the
        // package: the error module is then asked to report it.
        const Outcome outcome = WaitForEnd(p, 60000, L"", folder);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, c.code);
        ASSERT_EQ(outcome.messages.size(), 1u) << "the launcher's box only: the refused file was not used";
        EXPECT_NE(outcome.messages[0].find(folder + c.file), std::wstring::npos) << Narrow(outcome.messages[0]);
        if (c.code == kNotThisRelease) {
            EXPECT_NE(outcome.messages[0].find(L"Version of the file: "), std::wstring::npos);
        }
        EXPECT_TRUE(RefusalLogged(folder + c.file, c.code, c.fileVersion));
        EXPECT_EQ(LogFiles().size(), 1u) << "no second launcher, which the Pad would have started";
        if (std::wstring(c.file) == kErrorModuleFile) {
            // The first tick ended early: the hourglass thread was stopped
            // and ended before the window it draws in.
            EXPECT_TRUE(InOrder(LogTexts("TRACE"),
                                {"Inside Setup's Wait UI Thread", "Hourglass stopped", "Exiting QXVSetup.exe"}));
        }
    }
}

// The Pad pins the launcher of its release: any other is refused, with its
// box or, quietly, its exit code alone.
TEST_F(IntegrityTest, PadStartsOnlyTheLauncherOfItsRelease) {
    for (const wchar_t* variant : {L"unsigned", L"other", L"changed", L"release"}) {
        SCOPED_TRACE(Narrow(variant));
        ClearLogs();
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyPadInto(folder));
        ASSERT_TRUE(CopyInto(Variant(variant, kLauncherFile64), folder, kLauncherFile64));
        Process pad = Process::Start(folder + kPadFile, L"QUIET=YES");
        ASSERT_TRUE(pad.Started());
        bool sawWindow = true;
        ASSERT_TRUE(WaitWatchingWindows(pad, 60000, sawWindow)) << "the Pad did not end";
        EXPECT_FALSE(sawWindow) << "no box in a quiet run";
        EXPECT_EQ(pad.ExitCode(), kNotThisRelease);
        EXPECT_TRUE(LogFiles().empty()) << "the launcher never ran";
    }
    {
        SCOPED_TRACE("with its box");
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyPadInto(folder));
        ASSERT_TRUE(CopyInto(Variant(L"release", kLauncherFile64), folder, kLauncherFile64));
        Process pad = Process::Start(folder + kPadFile, L"");
        ASSERT_TRUE(pad.Started());
        const Outcome outcome = WaitForEnd(pad, 60000);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, kNotThisRelease);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_NE(outcome.messages[0].find(L"not the one of this release (" + std::wstring(kProductVersion) + L")"),
                  std::wstring::npos)
            << Narrow(outcome.messages[0]);
        EXPECT_NE(outcome.messages[0].find(L"Version of the file: 0.9.0.0"), std::wstring::npos);
        EXPECT_TRUE(LogFiles().empty()) << "the launcher never ran";
    }
    {
        SCOPED_TRACE("its own release's launcher");
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyPadInto(folder));
        Process pad = Process::Start(folder + kPadFile, L"/quiet /norestart");
        ASSERT_TRUE(pad.Started());
        ASSERT_TRUE(pad.Wait(120000)) << "the installation did not end";
        EXPECT_EQ(pad.ExitCode(), 0u);
        EXPECT_EQ(ProductState(), INSTALLSTATE_DEFAULT) << "the intact signed folder installs";
        EXPECT_TRUE(LogTexts("ERROR").empty());
    }
}

// Each file the signed programs check, held open by another program with
// delete access (every sharing allowed) as a program that means to move it
// does: the check cannot open it, so it is refused with that error, in the
// launcher's record and box or the Pad's exit code, and never used
// unchecked, whether it is the release's own or a stranger's.
TEST_F(IntegrityTest, AFileTheCheckCannotOpenIsRefusedNeverUsedUnchecked) {
    enum class Run { kQuietLauncher, kLauncherWithBox, kQuietForward, kQuietPad };
    struct HeldCase {
        const wchar_t* file;
        const wchar_t* variant;   // null: the release's own
        Run run;
    };
    const HeldCase cases[] = {
        {L"QXVInstallActions64.dll", nullptr, Run::kQuietLauncher},
        {L"QXVInstallActions64.dll", L"unsigned", Run::kQuietLauncher},
        {L"CustomActionData64.dll", nullptr, Run::kQuietLauncher},
        {kPackageFile, nullptr, Run::kQuietLauncher},
        {kPackageFile, L"other", Run::kQuietLauncher},
        // The error module, for the report of a package not found.
        {kErrorModuleFile, nullptr, Run::kLauncherWithBox},
        // The Pad the launcher forwards a start without a caller switch to.
        {kPadFile, nullptr, Run::kQuietForward},
        {kPadFile, L"unsigned", Run::kQuietForward},
        // The launcher the Pad starts.
        {kLauncherFile64, nullptr, Run::kQuietPad},
        {kLauncherFile64, L"unsigned", Run::kQuietPad},
    };
    for (const HeldCase& c : cases) {
        SCOPED_TRACE(Narrow(c.file) + " " + (c.variant ? Narrow(c.variant) : std::string("of the release")));
        ClearLogs();
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyPadInto(folder));
        if (c.variant) {
            ASSERT_TRUE(CopyInto(Variant(c.variant, c.file), folder, c.file));
        }
        if (c.run == Run::kLauncherWithBox) {
            ASSERT_TRUE(DeleteFileW((folder + kPackageFile).c_str()));
        }
        const std::wstring held = folder + c.file;
        const qx::UniqueHandle other = HoldForDeletion(held);
        ASSERT_TRUE(other) << "the other program's hold";

        const bool pad = c.run == Run::kQuietPad;
        const std::wstring args = c.run == Run::kQuietLauncher   ? L"CALLER=SETUP QUIET=YES"
                                  : c.run == Run::kLauncherWithBox ? L"CALLER=SETUP"
                                                                   : L"QUIET=YES";
        Process p = Process::Start(folder + (pad ? kPadFile : kLauncherFile64), args);
        ASSERT_TRUE(p.Started());
        // The disc prompt (for the error module's row) pointed at a folder without the package.
        const Outcome outcome = WaitForEnd(p, 60000, L"", folder);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, kHeldForDeletion);
        if (c.run == Run::kLauncherWithBox) {
            ASSERT_EQ(outcome.messages.size(), 1u) << "the launcher's box only: the held module was not loaded";
            EXPECT_NE(outcome.messages[0].find(held), std::wstring::npos) << Narrow(outcome.messages[0]);
            EXPECT_NE(outcome.messages[0].find(L"could not be checked"), std::wstring::npos);
        } else {
            EXPECT_TRUE(outcome.messages.empty()) << "no box in a quiet run";
        }
        if (pad) {
            EXPECT_TRUE(LogFiles().empty()) << "the launcher never ran";
        } else {
            EXPECT_TRUE(RefusalLogged(held, kHeldForDeletion));
            EXPECT_EQ(LogFiles().size(), 1u) << "no second launcher, which a started Pad would have started";
            EXPECT_FALSE(Contains(LogTexts("TRACE"), "Starting MSIThreadProc")) << "refused before the worker";
        }
        EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN) << "nothing installed";
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
