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

    // Starts program with args runs times while the link switches, then
    // stops it. Each run ends with used (the release's file) or 1306 (the
    // stranger's refused); both must have come up, so the link did switch.
    void RunRaced(const std::wstring& program, const wchar_t* args, int runs, DWORD used) {
        int usedRuns = 0, refused = 0;
        for (int run = 0; run < runs; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            Process p = Process::Start(program, args);
            EXPECT_TRUE(p.Started());
            if (!p.Started()) break;
            EXPECT_TRUE(p.Wait(kHangGuardMs)) << "did not end";
            const DWORD code = p.ExitCode();
            EXPECT_TRUE(code == used || code == kNotThisRelease) << code;
            (code == used ? usedRuns : refused) += 1;
        }
        link_.Stop();
        EXPECT_GT(usedRuns, 0);
        EXPECT_GT(refused, 0);
        std::printf("%d runs used the release's file, %d refused the stranger's\n", usedRuns, refused);
    }

    std::wstring good_, other_;
    SwitchingLink link_;
};

TEST_F(LinkRaceTest, ThePadNeverStartsAStrangersLauncher) {
    // A launcher of the release ends at once with a restart pending; the
    // stranger's (a program that only records its start) would leave its record.
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"x", 1));
    const std::wstring product = Race(DoublesDir() + L"pad\\" + kPadFile, kLauncherFile64);
    RunRaced(product + kPadFile, L"QUIET=YES", kPadRuns, kRebootPending);
    EXPECT_EQ(StrangersRecords(L"pad-record.txt"), 0u) << "the stranger's launcher ran";
}

TEST_F(LinkRaceTest, TheLauncherNeverLoadsAStrangersModule) {
    // A DLL that records every load of itself, under the install-actions module's name.
    const std::wstring product = Race(BuildDir() + L"tests\\stress\\planted.dll", L"QXVInstallActions64.dll");
    RunRaced(product + kLauncherFile64, L"CALLER=SETUP QUIET=YES", kLauncherRuns, 0);
    EXPECT_EQ(StrangersRecords(L"planted-loads.txt"), 0u) << "the stranger's module was loaded";
}

}  // namespace
}  // namespace qxtest
