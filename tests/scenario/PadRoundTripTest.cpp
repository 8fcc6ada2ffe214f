// The whole round a person starts by opening the launcher itself: the bare
// launcher hands over to the real Pad, the Pad starts the launcher again as
// its caller, that one installs, and its result comes back as the Pad's
// exit code.
#include "framework/Ownership.h"
#include "tests/scenario/ScenarioTest.h"
#include "tests/support/ActionsPause.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

class PadRoundTripTest : public ScenarioTest {};

TEST_F(PadRoundTripTest, BareStartComesBackThroughTheRealPadWithTheInstallationsResult) {
    for (const int result : {0, 1603}) {
        SCOPED_TRACE("result " + std::to_string(result));
        ClearLogs();
        const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario & ~kWithRecordingPad);
        ASSERT_TRUE(CopyPadInto(folder)) << "the shipped Pad";
        // The second launcher is held inside its installation until the Pad
        // has been found waiting for it.
        WriteActionsScript(folder, "result=" + std::to_string(result) + "\npause_before_unlock=1\n");
        const ActionsPause installing(kPauseBeforeUnlock);

        Process bare = Process::Start(folder + L"QXVSetup64.exe", L"");
        ASSERT_TRUE(bare.Started());
        ASSERT_TRUE(installing.Reached(kHangGuardMs)) << "no installation came of the bare start";
        // The bare launcher only handed over: it has ended, with 0.
        ASSERT_TRUE(bare.Wait(kStartTimeoutMs));
        EXPECT_EQ(bare.ExitCode(), 0u);

        const std::vector<DWORD> pads = ProcessesOf(folder + L"Setup.exe");
        ASSERT_EQ(pads.size(), 1u) << "the Pad waits for the launcher it started";
        const qx::UniqueHandle pad(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pads[0]));
        ASSERT_TRUE(pad);
        EXPECT_EQ(ProcessesOf(folder + L"QXVSetup64.exe").size(), 1u) << "one launcher, the Pad's";

        installing.Go();
        ASSERT_EQ(WaitForSingleObject(pad.get(), kHangGuardMs), WAIT_OBJECT_0) << "the Pad did not end";
        DWORD padCode = STILL_ACTIVE;
        ASSERT_TRUE(GetExitCodeProcess(pad.get(), &padCode));
        EXPECT_EQ(padCode, static_cast<DWORD>(result)) << "the installation's result, back through the Pad";

        const auto calls = RecordLines(folder + L"actions-record.txt");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(RecordField(calls[0], L"tail"), ModuleTail(folder, L"CALLER=SETUP"))
            << "the Pad's launcher, as its caller";
        EXPECT_EQ(LogFiles().size(), 2u) << "the bare start's log and the installation's";
    }
}

}  // namespace
}  // namespace qxtest
