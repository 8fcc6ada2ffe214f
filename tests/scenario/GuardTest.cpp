// The concurrent-installation guard: which objects make a start refuse, what
// the log and the user see, and that of two launchers only one goes on.
#include <windows.h>
#include <sddl.h>

#include <algorithm>

#include "framework/Ownership.h"
#include "tests/scenario/ScenarioTest.h"
#include "tests/support/ActionsPause.h"
#include "tests/support/Waits.h"

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

// Whether some other thread, of this program or another, owns the
// installation mutex now.
bool InstallMutexOwnedElsewhere() {
    const qx::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, L"__QXVSetupInProgress"));
    if (!mutex) return false;
    const DWORD wait = WaitForSingleObject(mutex.get(), 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex.get());
    return wait == WAIT_TIMEOUT;
}

// The texts of the log files that were not among before.
std::vector<std::string> NewLogTexts(const std::vector<std::wstring>& before) {
    std::vector<std::string> texts;
    for (const auto& file : LogFiles()) {
        if (std::find(before.begin(), before.end(), file) != before.end()) continue;
        bool wellFormed = false;
        for (const auto& record : ParseLog(ReadBytes(file), &wellFormed)) texts.push_back(record.text);
        EXPECT_TRUE(wellFormed) << Narrow(file);
    }
    return texts;
}

// A mutex of this test's under name, with the descriptor sddl (null: the
// default one).
HANDLE CreateMutexWithSddl(const wchar_t* name, const wchar_t* sddl, bool owned) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl && !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE mutex = CreateMutexW(sddl ? &attributes : nullptr, owned, name);
    LocalFree(descriptor);
    return mutex;
}

class GuardTest : public ScenarioTest {
protected:
    // Starts a launcher that must refuse: one message box with the system's
    // text for 1618, dismissed, and the process ends. Returns the texts of
    // the log that launcher wrote.
    std::vector<std::string> ExpectRefusal(const std::wstring& folder) {
        const std::vector<std::wstring> logsBefore = LogFiles();
        Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
        EXPECT_TRUE(p.Started());
        HWND box = WaitForWindow(L"#32770", L"QXVSetup64", 20000);
        EXPECT_NE(box, nullptr) << "no refusal shown";
        if (!box) return {};
        EXPECT_EQ(Words(ControlText(box, 0xFFFF)), Words(SystemText(ERROR_INSTALL_ALREADY_RUNNING)));
        // Every box it shows is answered until it has ended, and counted.
        std::vector<HWND> boxes = {box};
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] {
            for (HWND shown : VisibleWindowsOf(p.Id(), L"#32770")) {
                if (std::find(boxes.begin(), boxes.end(), shown) != boxes.end()) continue;
                boxes.push_back(shown);
                PostMessageW(shown, WM_COMMAND, IDOK, 0);
            }
            return p.Wait(0);
        })) << "the refused launcher did not end";
        EXPECT_EQ(boxes.size(), 1u) << "one message box only";
        const std::vector<std::string> texts = NewLogTexts(logsBefore);
        EXPECT_FALSE(Contains(texts, "Showing Hourglass"));
        return texts;
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
    // The other launcher is a real one, held inside its installation.
    const ActionsPause inInstallation(kPauseBeforeUnlock);
    Process other = StartHeldInModule("result=0\npause_before_unlock=1\n", inInstallation, L"CALLER=SETUP");
    ASSERT_FALSE(HasFailure());
    const std::wstring& folder = folder_;
    ASSERT_TRUE(InstallMutexOwnedElsewhere()) << "the other launcher does not hold the guard while it installs";

    EXPECT_EQ(GuardLines(ExpectRefusal(folder)), std::vector<std::string>{kOwnLine});
    EXPECT_TRUE(InstallMutexOwnedElsewhere()) << "the other launcher lost its ownership to the refused one";

    inInstallation.Go();
    ASSERT_TRUE(other.Wait(kHangGuardMs)) << "the other launcher did not end";
    EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "its installation ran to its end";
    EXPECT_FALSE(InstallMutexOwnedElsewhere()) << "given up at its end";
}

TEST_F(GuardTest, EveryObjectFoundIsLoggedInOrderWithOneMessage) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kInProgressKey, L"Marker", 1));
    HANDLE own = CreateMutexW(nullptr, TRUE, L"__QXVSetupInProgress");
    HANDLE exec = CreateMutexW(nullptr, TRUE, L"_MSIExecute");
    EXPECT_EQ(GuardLines(ExpectRefusal(folder)), (std::vector<std::string>{kKeyLine, kOwnLine, kExecLine}));
    CloseHandle(own);
    CloseHandle(exec);
}

// Windows Installer's service makes its objects in the global namespace; a
// program of the session may have made one under the session's name. One
// whose access list shuts the probe out is there all the same.
TEST_F(GuardTest, DiscPromptOrExecutingInstallerAloneRefuses) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    struct Case {
        const wchar_t* mutex;
        const char* line;
        const wchar_t* sddl;   // null: the default descriptor
    };
    const Case cases[] = {
        {L"__MsiPromptForCD", kCdLine, nullptr},
        {L"_MSIExecute", kExecLine, nullptr},
        {L"Global\\__MsiPromptForCD", kCdLine, nullptr},
        {L"Global\\_MSIExecute", kExecLine, nullptr},
        {L"Global\\_MSIExecute", kExecLine, L"D:P"},
        {L"Global\\__MsiPromptForCD", kCdLine, L"D:P(A;;0x00100000;;;WD)"},   // waiting only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.mutex) + (c.sddl ? std::string(", descriptor ").append(Narrow(c.sddl)) : std::string()));
        ClearLogs();
        const qx::UniqueHandle m(CreateMutexWithSddl(c.mutex, c.sddl, false));   // found whoever owns it
        ASSERT_TRUE(m);
        EXPECT_EQ(GuardLines(ExpectRefusal(folder)), std::vector<std::string>{c.line});
    }
}

// The machine-wide announcement: a launcher of another session (made by
// Administrators) holds this one back with its own line; the same name
// made first by a less-privileged program neither stalls the installation
// nor counts as a launcher.
TEST_F(GuardTest, TheMachineWideAnnouncementIsAnotherSessionsLauncherOnly) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    {
        SCOPED_TRACE("another session's launcher");
        const qx::UniqueHandle other(CreateMutexWithSddl(kMachineInstallMutexName, L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)", true));
        ASSERT_TRUE(other);
        EXPECT_EQ(GuardLines(ExpectRefusal(folder)),
                  std::vector<std::string>{"Another Installation is In Progress (" + Narrow(kMachineInstallMutexName) +
                                           " Mutex is present)"});
        EXPECT_TRUE(RecordLines(folder + L"actions-record.txt").empty()) << "nothing installed";
    }
    {
        SCOPED_TRACE("a squatter's");
        ClearLogs();
        const qx::UniqueHandle squatter(CreateMutexWithSddl(kMachineInstallMutexName, nullptr, true));
        ASSERT_TRUE(squatter);
        RunToEnd(folder, L"CALLER=SETUP");
        const auto texts = LogTexts();
        EXPECT_TRUE(GuardLines(texts).empty());
        EXPECT_TRUE(Contains(texts, "Machine-wide installation mutex name already in use by another program; not used"));
        EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "installed once";
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
    // The winner is held inside its installation until the others have been
    // refused, so it still holds the guard when they reach it.
    WriteActionsScript(folder, "result=0\npause_before_unlock=1\n");
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        ClearLogs();
        DeleteFileW((folder + L"actions-record.txt").c_str());
        const ActionsPause winnerInstalling(kPauseBeforeUnlock);
        std::vector<Process> launchers;
        for (int i = 0; i < 3; ++i) launchers.push_back(Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP"));
        // Dismiss the refusals as they come; once two launchers have ended,
        // let the third finish its installation.
        std::vector<HWND> refusals;
        const bool allEnded = WaitUntil([&] {
            size_t ended = 0;
            for (auto& l : launchers) ended += l.Wait(0) ? 1 : 0;
            if (ended == launchers.size()) return true;
            if (ended + 1 == launchers.size()) winnerInstalling.Go();
            if (HWND box = FindWindowW(L"#32770", L"QXVSetup64")) {
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                if (std::find(refusals.begin(), refusals.end(), box) == refusals.end()) refusals.push_back(box);
            }
            return false;
        });
        ASSERT_TRUE(allEnded) << "launchers did not end";
        EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "exactly one installation ran";
        EXPECT_EQ(refusals.size(), 2u) << "the other two were refused";
    }
}

}  // namespace
}  // namespace qxtest
