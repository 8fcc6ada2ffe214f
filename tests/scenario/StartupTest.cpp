// How a start of the launcher is decided: the Pad forwarding, the caller
// switches, the pending-reboot refusal and the Run-value clean-up.
#include <algorithm>
#include <iterator>

#include "tests/scenario/ScenarioTest.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

constexpr char kInside[] = "Inside QXVSetup.exe";
constexpr char kNotSetup[] = "Caller is not setup";
constexpr char kNotCoInstaller[] = "Caller is not coInstaller either so lets call the Pad (setup.exe)";

class StartupTest : public ScenarioTest {
protected:
    // The Pad double writes its record after the launcher has ended.
    std::vector<std::wstring> WaitForPadStarts(const std::wstring& folder, size_t count) {
        WaitUntil([&] { return PadStarts(folder).size() >= count; });
        return PadStarts(folder);
    }
    // The Pad starts the launcher made, once no Pad of the folder runs any
    // more: a Pad started before the launcher ended has written its record
    // by then, so an empty record means none was started.
    std::vector<std::wstring> FinalPadStarts(const std::wstring& folder) {
        EXPECT_TRUE(WaitUntilNoneRuns(folder + L"Setup.exe")) << "the Pad double did not end";
        return PadStarts(folder);
    }
};

TEST_F(StartupTest, BareStartForwardsToThePadWithItsQuotedPathAlone) {
    const std::vector<std::wstring> argumentSets = {
        L"", L"foo bar \"quoted arg\"", L"caller=setup", L"AFTERREBOOT=YES", L"CALLER=SETU P"};
    for (const std::wstring& folderName : {folder_, folder_ + L"with spaces in it\\"}) {
        const std::wstring folder = MakeLauncherFolder(folderName);
        for (const auto& args : argumentSets) {
            SCOPED_TRACE(Narrow(folder + L" | " + args));
            ClearLogs();
            DeleteFileW((folder + L"pad-record.txt").c_str());
            RunToEnd(folder, args);
            auto starts = WaitForPadStarts(folder, 1);
            ASSERT_EQ(starts.size(), 1u);
            EXPECT_EQ(starts[0], L"\"" + folder + L"Setup.exe\"");
            std::vector<std::string> expected = {kInside, kNotSetup, kNotCoInstaller,
                                                 "Pad : " + Narrow(folder) + "Setup.exe"};
            EXPECT_EQ(LogTexts(), expected);
        }
    }
}

TEST_F(StartupTest, KnownCallersAreCaseSensitiveSubstringsAndSetupWins) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    struct Case {
        std::wstring args;
        bool notSetupLogged;
    };
    const Case cases[] = {
        {L"CALLER=SETUP", false},
        {L"xxCALLER=SETUPyy", false},
        {L"AFTERREBOOT=YES CALLER=SETUP", false},
        {L"CALLER=COINSTALLER", true},
        {L"/qCALLER=COINSTALLER/q", true},
        {L"CALLER=COINSTALLER CALLER=SETUP", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.args));
        ClearLogs();
        RunToEnd(folder, c.args);
        auto texts = LogTexts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts[0], kInside);
        bool notSetup = false, forwarded = false;
        for (const auto& t : texts) {
            notSetup = notSetup || t == kNotSetup;
            forwarded = forwarded || t == kNotCoInstaller || t.rfind("Pad : ", 0) == 0;
        }
        EXPECT_EQ(notSetup, c.notSetupLogged);
        EXPECT_FALSE(forwarded);
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Showing Hourglass"), texts.end());
    }
    EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), std::size(cases));
    EXPECT_TRUE(FinalPadStarts(folder).empty()) << "a known caller never starts the Pad";
}

TEST_F(StartupTest, MissingPadIsOnlyTraced) {
    const std::wstring folder = MakeLauncherFolder(folder_, kWithResourceModule | kWithRealModules);
    Process p = Process::Start(folder + L"QXVSetup64.exe", L"");
    bool sawWindow = false;
    ASSERT_TRUE(WaitWatchingWindows(p, kStartTimeoutMs, sawWindow));
    EXPECT_FALSE(sawWindow) << "no message about the missing Pad, no popup";
    auto texts = LogTexts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[3], "Pad : " + Narrow(folder) + "Setup.exe");
}

TEST_F(StartupTest, ArgumentTailOfAnyLengthIsHandled) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    const std::wstring filler(32000, L'x');
    RunToEnd(folder, filler);
    auto starts = WaitForPadStarts(folder, 1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], L"\"" + folder + L"Setup.exe\"");

    ClearLogs();
    RunToEnd(folder, filler.substr(0, 31000) + L" \t\"unbalanced CALLER=SETUP");
    EXPECT_EQ(FinalPadStarts(folder).size(), 1u) << "the switch at the end still counts";
    auto texts = LogTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], kInside);
    // The whole tail reaches the install-actions module; its record line is
    // the tail itself, so compare the length and the end.
    auto calls = RecordLines(folder + L"actions-record.txt");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].find(L"x \t\"unbalanced CALLER=SETUP|log="), std::wstring::npos);
}

// Words of a message definition: %n and ordinary line breaks both separate.
std::vector<std::wstring> DefinitionWords(std::wstring text) {
    for (size_t p; (p = text.find(L"%n")) != std::wstring::npos;) text.replace(p, 2, L" ");
    return Words(text);
}

std::wstring PendingRebootDefinition() { return ResourceString(ProductDir() + kResourceModuleFile, kIdsPendingReboot); }

TEST_F(StartupTest, PendingRebootShowsTheWrappedMessageWhateverTheSwitches) {
    const std::wstring definition = PendingRebootDefinition();
    ASSERT_NE(definition.find(L"%n"), std::wstring::npos) << "the message uses hard breaks";
    ASSERT_GT(definition.size(), 120u) << "the message is long enough to wrap";

    const std::wstring folder = MakeLauncherFolder(folder_);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"Marker", 1));
    for (const wchar_t* argsText : {L"", L"CALLER=SETUP", L"CALLER=COINSTALLER", L"RUNONCE=YES CALLER=SETUP"}) {
        const std::wstring args = argsText;
        SCOPED_TRACE(Narrow(args));
        ClearLogs();
        ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, 1));
        Process p = Process::Start(folder + L"QXVSetup64.exe", args);
        HWND box = WaitForWindow(L"#32770", L"QXVSetup64", 20000);
        ASSERT_NE(box, nullptr) << "no message box captioned QXVSetup64";
        const std::wstring shown = ControlText(box, 0xFFFF);
        EXPECT_EQ(Words(shown), DefinitionWords(definition));
        size_t lines = 0, start = 0;
        for (size_t i = 0; i <= shown.size(); ++i) {
            if (i == shown.size() || shown[i] == L'\n') {
                std::wstring line = shown.substr(start, i - start);
                if (!line.empty() && line.back() == L'\r') line.pop_back();
                EXPECT_LE(line.size(), 60u) << Narrow(line);
                ++lines;
                start = i + 1;
            }
        }
        EXPECT_GT(lines, 4u) << "wrapped at 60 characters and broken at each %n";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(p.Wait(kStartTimeoutMs));
        EXPECT_EQ(LogTexts(), std::vector<std::string>{kInside}) << "nothing after the check runs";
        EXPECT_EQ(ValueExists(HKEY_LOCAL_MACHINE, kRunKey, kRunValue), args.find(L"RUNONCE=YES") == std::wstring::npos);
    }
    EXPECT_TRUE(FinalPadStarts(folder).empty());
}

TEST_F(StartupTest, PendingRebootWithoutResourceModuleStillTellsTheUser) {
    const std::wstring folder = MakeLauncherFolder(folder_, kWithRecordingPad | kWithRealModules);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"Marker", 1));
    Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
    HWND box = WaitForWindow(L"#32770", L"QXVSetup64", 20000);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(ControlText(box, 0xFFFF).find(L"restart"), std::wstring::npos);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));
}

TEST_F(StartupTest, RunOnceSwitchRemovesOnlyTheRunValueAndLeavesNoTrace) {
    const std::wstring folder = MakeLauncherFolder(folder_);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, 7));

    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, 1));
    RunToEnd(folder, L"runonce=yes");
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kRunKey, kRunValue)) << "lower case is not the switch";

    ClearLogs();
    RunToEnd(folder, L"xRUNONCE=YESx");
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kRunKey, kRunValue));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue)) << "RunOnce is not the Run value";
    auto texts = LogTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], kInside) << "the removal runs before the log exists";
    for (const auto& t : texts) EXPECT_EQ(t.find("RemoveRunOnceEntry"), std::string::npos);
    EXPECT_EQ(WaitForPadStarts(folder, 2).size(), 2u) << "and the start goes on to the Pad";
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
}

}  // namespace
}  // namespace qxtest
