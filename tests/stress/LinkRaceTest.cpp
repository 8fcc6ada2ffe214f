// The folder of the product a link that another program keeps switching,
// as fast as it can, between the signed product and a copy of it where one
// file is a stranger's. Whatever the timing, what the signed Pad starts and
// what the signed launcher loads is a file that passed its check: the
// stranger's is refused or never reached, and never run (counted over many
// runs, bounded by count).
#include "tests/scenario/ScenarioTest.h"
#include "tests/support/Links.h"

namespace qxtest {
namespace {

constexpr DWORD kNotThisRelease = 1306;
constexpr DWORD kRebootPending = 350;
constexpr int kPadRuns = 30;
constexpr int kLauncherRuns = 12;

class LinkRaceTest : public ScenarioTest {
protected:
    void SetUp() override {
        ScenarioTest::SetUp();
        UninstallProduct();
    }
    void TearDown() override {
        link_.Stop();
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
        UninstallProduct();
        RemoveTreeNoFollow(folder_);
    }

    // The folder "signed" (what ships, the signed Pad with it), the folder
    // "other" (the same with the stranger's file under the given name) and
    // the link "product" switching between them, all in the case's folder.
    std::wstring Race(const std::wstring& stranger, const wchar_t* name) {
        RemoveTreeNoFollow(folder_);
        const std::wstring good = MakeShippedFolder(folder_ + L"signed\\");
        EXPECT_TRUE(CopyPadInto(good));
        const std::wstring other = MakeShippedFolder(folder_ + L"other\\");
        EXPECT_TRUE(CopyPadInto(other));
        EXPECT_TRUE(CopyInto(stranger, other, name));
        good_ = good;
        other_ = other;
        EXPECT_TRUE(link_.Start(folder_ + L"product", good, other)) << "the switching program did not start";
        return folder_ + L"product\\";
    }

    // Records the stranger's file left, in either folder: it records beside
    // the path it was started or loaded by, which is the link's.
    size_t StrangersRecords(const wchar_t* record) {
        return RecordLines(good_ + record).size() + RecordLines(other_ + record).size();
    }

    std::wstring good_, other_;
    SwitchingLink link_;
};

TEST_F(LinkRaceTest, ThePadNeverStartsAStrangersLauncher) {
    // A launcher of the release ends at once with a restart pending; the
    // stranger's (a program that only records its start) would leave its record.
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"x", 1));
    const std::wstring product = Race(DoublesDir() + L"pad\\" + kPadFile, kLauncherFile64);
    int started = 0, refused = 0;
    for (int run = 0; run < kPadRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Process pad = Process::Start(product + kPadFile, L"QUIET=YES");
        ASSERT_TRUE(pad.Started());
        ASSERT_TRUE(pad.Wait(kHangGuardMs)) << "the Pad did not end";
        const DWORD code = pad.ExitCode();
        EXPECT_TRUE(code == kRebootPending || code == kNotThisRelease) << code;
        (code == kRebootPending ? started : refused) += 1;
    }
    link_.Stop();
    EXPECT_EQ(StrangersRecords(L"pad-record.txt"), 0u) << "the stranger's launcher ran";
    // Both happened: the link did switch under the runs.
    EXPECT_GT(started, 0);
    EXPECT_GT(refused, 0);
    std::printf("Pad runs: %d started the launcher of the release, %d refused the stranger's, 0 started it\n",
                started, refused);
}

TEST_F(LinkRaceTest, TheLauncherNeverLoadsAStrangersModule) {
    // A DLL that records every load of itself, under the install-actions module's name.
    const std::wstring product =
        Race(BuildDir() + L"tests\\stress\\planted.dll", L"QXVInstallActions64.dll");
    int installed = 0, refused = 0;
    for (int run = 0; run < kLauncherRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Process launcher = Process::Start(product + kLauncherFile64, L"CALLER=SETUP QUIET=YES");
        ASSERT_TRUE(launcher.Started());
        ASSERT_TRUE(launcher.Wait(kHangGuardMs)) << "the launcher did not end";
        const DWORD code = launcher.ExitCode();
        EXPECT_TRUE(code == 0 || code == kNotThisRelease) << code;
        (code == 0 ? installed : refused) += 1;
    }
    link_.Stop();
    EXPECT_EQ(StrangersRecords(L"planted-loads.txt"), 0u) << "the stranger's module was loaded";
    EXPECT_GT(installed, 0);
    EXPECT_GT(refused, 0);
    std::printf("launcher runs: %d installed, %d refused the stranger's module, 0 loaded it\n", installed, refused);
}

}  // namespace
}  // namespace qxtest
