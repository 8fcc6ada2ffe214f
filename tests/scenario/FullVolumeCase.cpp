// The cache's base on a volume too small for the cache, as a machine with a
// full data volume has it: run only by tests/CacheOnAFullVolume.cmake, which
// mounts the small volume over the prefix's machine-wide data folder around
// it (QX_FULL_VOLUME set); anywhere else it is skipped, and it is not listed
// among the scenario tests.
#include <cstdlib>

#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

using FullVolumeTest = ScenarioTest;

TEST_F(FullVolumeTest, ACacheThatCannotBeFilledArmsNoResumeAndSaysTheInstallationIsSuspended) {
    if (!std::getenv("QX_FULL_VOLUME")) GTEST_SKIP() << "only on the small volume CacheOnAFullVolume.cmake mounts";
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=3010\n");
    Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP QUIET=YES NORESTART=YES");
    ASSERT_TRUE(p.Started());
    bool sawWindow = true;
    ASSERT_TRUE(WaitWatchingWindows(p, 60000, sawWindow)) << "the launcher did not end";
    EXPECT_FALSE(sawWindow);
    EXPECT_EQ(p.ExitCode(), 1604u) << "suspended, not done: no resume after the restart";
    EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "the installation itself ran";

    size_t notWritten = 0, notArmed = 0;
    for (const std::string& e : LogTexts("ERROR")) {
        notWritten += e.rfind("Install source cache: not written: ", 0) == 0;
        notArmed += e.rfind("Resume after restart not armed: the cache copy lacks ", 0) == 0;
    }
    EXPECT_GE(notWritten, 1u) << "each file that could not be written is named";
    EXPECT_EQ(notArmed, 1u);
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue));
    EXPECT_TRUE(FilesIn(CacheFolder()).empty()) << "no half cache, no .qxnew left";
}

}  // namespace
}  // namespace qxtest
