// The concurrent-installation guard: which objects make a start refuse, what
// the log and the user see, and that of two launchers only one goes on.
#include <algorithm>

#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

constexpr char kKeyLine[] = "Another Installation is In Progress (InProgress Key is present)";
constexpr char kOwnLine[] = "Another Installation is In Progress (__QXVSetupInProgress Mutex is present)";
constexpr char kCdLine[] = "Another Installation is In Progress (__MsiPromptForCD Mutex is present)";
constexpr char kExecLine[] = "Another Installation is In Progress (_MSIExecute Mutex is present)";

std::vector<std::string> GuardLines(const std::vector<std::string>& texts) {
    std::vector<std::string> lines;
    for (const auto& t : texts)
        if (t.rfind("Another Installation", 0) == 0) lines.push_back(t);
    return lines;
}

class GuardTest : public ScenarioTest {
protected:
    // Starts a launcher that must refuse: one message box with the system's
    // text for 1618, dismissed, and the process ends.
    void ExpectRefusal(const std::wstring& folder) {
        Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
        HWND box = WaitForWindow(L"#32770", L"QXVSetup64", 20000);
        ASSERT_NE(box, nullptr) << "no refusal shown";
        EXPECT_EQ(Words(ControlText(box, 0xFFFF)), Words(SystemText(ERROR_INSTALL_ALREADY_RUNNING)));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(p.Wait(kStartTimeoutMs));
        EXPECT_EQ(FindWindowW(L"#32770", L"QXVSetup64"), nullptr) << "one message box only";
        EXPECT_FALSE(Contains(LogTexts(), "Showing Hourglass"));
    }
};

TEST_F(GuardTest, InProgressKeyAloneIsOnlyLogged) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kInProgressKey, L"Marker", 1));
    RunToEnd(folder, L"CALLER=SETUP");
    auto texts = LogTexts();
    EXPECT_EQ(GuardLines(texts), std::vector<std::string>{kKeyLine});
    EXPECT_TRUE(Contains(texts, "Showing Hourglass"));
}

TEST_F(GuardTest, AnotherLauncherKeepsItsOwnershipAndThisOneRefuses) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    HANDLE other = CreateMutexW(nullptr, TRUE, L"__QXVSetupInProgress");
    ASSERT_NE(other, nullptr);
    ExpectRefusal(folder);
    EXPECT_EQ(GuardLines(LogTexts()), std::vector<std::string>{kOwnLine});
    EXPECT_TRUE(ReleaseMutex(other)) << "the other launcher still owns its mutex";
    CloseHandle(other);
}

TEST_F(GuardTest, EveryObjectFoundIsLoggedInOrderWithOneMessage) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kInProgressKey, L"Marker", 1));
    HANDLE own = CreateMutexW(nullptr, TRUE, L"__QXVSetupInProgress");
    HANDLE exec = CreateMutexW(nullptr, TRUE, L"_MSIExecute");
    ExpectRefusal(folder);
    EXPECT_EQ(GuardLines(LogTexts()), (std::vector<std::string>{kKeyLine, kOwnLine, kExecLine}));
    CloseHandle(own);
    CloseHandle(exec);
}

TEST_F(GuardTest, DiscPromptOrExecutingInstallerAloneRefuses) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    struct Case {
        const wchar_t* mutex;
        const char* line;
    };
    for (const Case c : {Case{L"__MsiPromptForCD", kCdLine}, Case{L"_MSIExecute", kExecLine}}) {
        SCOPED_TRACE(Narrow(c.mutex));
        ClearLogs();
        HANDLE m = CreateMutexW(nullptr, FALSE, c.mutex);   // found whoever owns it
        ExpectRefusal(folder);
        EXPECT_EQ(GuardLines(LogTexts()), std::vector<std::string>{c.line});
        CloseHandle(m);
    }
}

TEST_F(GuardTest, LauncherAfterAnEndedOneGoesOn) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    RunToEnd(folder, L"CALLER=SETUP");
    ClearLogs();
    RunToEnd(folder, L"CALLER=COINSTALLER");
    auto texts = LogTexts();
    EXPECT_TRUE(GuardLines(texts).empty());
    EXPECT_TRUE(Contains(texts, "Showing Hourglass"));
}

TEST_F(GuardTest, OfLaunchersStartedTogetherExactlyOneGoesOn) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    // The installation takes a while, so the winner still holds the guard
    // when the others reach it.
    WriteActionsScript(folder, "result=0\ndelay_ms=3000\n");
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        ClearLogs();
        DeleteFileW((folder + L"actions-record.txt").c_str());
        std::vector<Process> launchers;
        for (int i = 0; i < 3; ++i) launchers.push_back(Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP"));
        // Dismiss the refusals as they come, until every launcher has ended.
        DWORD start = GetTickCount();
        std::vector<HWND> refusals;
        for (;;) {
            bool allEnded = true;
            for (auto& l : launchers) allEnded = l.Wait(0) && allEnded;
            if (allEnded) break;
            if (HWND box = FindWindowW(L"#32770", L"QXVSetup64")) {
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                if (std::find(refusals.begin(), refusals.end(), box) == refusals.end()) refusals.push_back(box);
            }
            ASSERT_LT(GetTickCount() - start, 60000u) << "launchers did not end";
            Sleep(50);
        }
        EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "exactly one installation ran";
        EXPECT_EQ(refusals.size(), 2u) << "the other two were refused";
    }
}

}  // namespace
}  // namespace qxtest
