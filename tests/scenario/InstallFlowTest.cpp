// The installation from start to end: the setup window's flow, the
// worker's handling of each result, the cache, the source record and the
// restart entry, with a scripted install-actions module; the disc prompt's
// flows with the shipped modules and package.
#include <shlobj.h>

#include <algorithm>

#include "tests/scenario/ScenarioTest.h"
#include "tests/support/ActionsPause.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

// Reports the error-module double received.
size_t Reports(const std::wstring& folder) {
    return Occurrences(Narrow(ReadUtf8(folder + L"report-record.txt")), "message=");
}

class InstallFlowTest : public ScenarioTest {
protected:
    std::vector<std::wstring> Calls(const std::wstring& folder) { return RecordLines(folder + L"actions-record.txt"); }
};

TEST_F(InstallFlowTest, SuccessWithThePackageBesideTheLauncher) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\nlist_cache=1\n");
    RunToEnd(folder, L"CALLER=SETUP extra");

    auto calls = Calls(folder);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(RecordField(calls[0], L"tail"), ModuleTail(folder, L"CALLER=SETUP extra"))
        << "the package read is handed on, then the tail";
    EXPECT_EQ(RecordField(calls[0], L"held"), L"1") << "the lock is held when passed";
    EXPECT_EQ(RecordField(calls[0], L"fourth"), L"0");
    auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(RecordField(calls[0], L"log"), logs[0]);
    // The cache held the launcher and the modules while the installation ran, not the package.
    const std::wstring cache = RecordField(calls[0], L"cache");
    for (const wchar_t* f : {L"QXVSetup64.exe;", L"CustomActionData64.dll;", L"QXVSetupRES64.dll;",
                             L"QXVInstallActions64.dll;", L"QXPRP4005P64.dll;"})
        EXPECT_NE(cache.find(f), std::wstring::npos) << Narrow(f);
    EXPECT_EQ(cache.find(L"QXPRP4005.msi"), std::wstring::npos);
    EXPECT_EQ(cache.find(L"Setup.exe"), std::wstring::npos);
    EXPECT_TRUE(FilesIn(CacheFolder()).empty()) << "emptied at the end";

    wchar_t recorded[MAX_PATH + 1] = {};
    DWORD bytes = MAX_PATH * sizeof(wchar_t);
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSourceRecordKey, L"SourcePath", RRF_RT_REG_SZ, nullptr, recorded,
                           &bytes), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(recorded), folder);

    auto texts = LogTexts("TRACE");
    EXPECT_FALSE(Contains(texts, "PROMPT for user to insert the Disk (In SetupDlg - On Timer - First Time) . "
                                 "Looking For\" QXPRP4005.msi \""));
    EXPECT_TRUE(InOrder(texts, {"Inside QXVSetup.exe", "Showing Hourglass", "Starting Thread for hourglass AVI",
                                "Getting Product Info", "Inside GetProductInfo", "Exiting GetProductInfo",
                                "Creating UI MUTEX", "Installed Product", "Starting MSIThreadProc",
                                "Resume MSIThreadProc", "Exiting Product"}));
    EXPECT_TRUE(InOrder(texts, {"In MSIThreadProc", "create MSIThread mutex", "In CacheInstallSource",
                                "In CacheSourcePath", "Out CacheInstallSource",
                                Narrow(L"calling DoInstallActions: " + ModuleTail(folder, L"CALLER=SETUP extra")),
                                "Deleting install source cache",
                                "In DeleteInstallSourceCache", "Exiting MsiThreadproc"}));
    // The module released the lock: the dialog hid and waited for the worker (the OK ending).
    EXPECT_TRUE(InOrder(texts, {"Lock removed from UI MUTEX", "Hiding Hourglass AVI Window", "Exiting QXVSetup.exe"}));
    EXPECT_FALSE(Contains(texts, "Reboot required"));
}

TEST_F(InstallFlowTest, WorkerEndingWithTheLockHeldEndsTheDialogWithCancel) {
    // The worker is held at its end, the lock still held, until the dialog
    // is seen watching it.
    const ActionsPause workerEnding(kPauseAfterUnlock);
    Process p = StartHeldInModule("result=0\nunlock=0\npause_after_unlock=1\n", workerEnding, L"CALLER=COINSTALLER");
    ASSERT_FALSE(HasFailure());
    EXPECT_TRUE(WaitUntil([&] { return HasVisibleWindow(p.Id()); })) << "the hourglass is still wanted";
    workerEnding.Go();
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));
    ASSERT_EQ(Calls(folder_).size(), 1u);
    auto texts = LogTexts("TRACE");
    EXPECT_FALSE(Contains(texts, "Lock removed from UI MUTEX"));
    EXPECT_TRUE(InOrder(texts, {"Exiting MsiThreadproc", "Exiting QXVSetup.exe"}));
}

// While the installer's own window is up (the module has let go of the
// hourglass), the launcher's window still answers: a program that sends it
// a message (a settings broadcast, the restart's question) is not held.
TEST_F(InstallFlowTest, TheWindowAnswersWhileTheInstallerRuns) {
    const ActionsPause letGo(kPauseAfterUnlock);
    Process p = StartHeldInModule("result=0\nunlock=1\npause_after_unlock=1\n", letGo, L"CALLER=SETUP");
    ASSERT_FALSE(HasFailure());
    // The popup hides once it has seen the lock let go. Its window says so
    // even when a record of a loaded machine was left out of the log.
    bool seenVisible = false;
    ASSERT_TRUE(WaitUntil([&] {
        const HWND popup = FindProcessWindow(p.Id(), L"#32770");
        const bool visible = popup && IsWindowVisible(popup);
        seenVisible = seenVisible || visible;
        return (seenVisible && popup && !visible) || Contains(LogTexts("TRACE"), "Hiding Hourglass AVI Window");
    })) << "the dialog did not see the lock let go";
    const HWND dialog = FindProcessWindow(p.Id(), L"#32770");
    ASSERT_NE(dialog, nullptr);
    int answered = 0;
    for (int i = 0; i < 5; ++i) {
        DWORD_PTR result = 0;
        answered += SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) != 0;
    }
    EXPECT_EQ(answered, 5) << "the window stopped answering while it waited for the worker";
    letGo.Go();
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));
    EXPECT_EQ(p.ExitCode(), 0u);
    // The hourglass thread was stopped and ended before the window it draws in.
    EXPECT_TRUE(InOrder(LogTexts("TRACE"), {"Inside Setup's Wait UI Thread", "Hiding Hourglass AVI Window",
                                            "Hourglass stopped", "Exiting QXVSetup.exe"}));
}

TEST_F(InstallFlowTest, FailureIsLoggedReportedAndTheCacheEmptied) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=1603\nlist_cache=1\n");
    RunToEnd(folder, L"CALLER=SETUP");
    const auto calls = Calls(folder);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(RecordField(calls[0], L"cache").find(L"QXVSetup64.exe;"), std::wstring::npos)
        << "the cache held the launcher while the installation ran";
    auto errors = LogTexts("ERROR");
    ASSERT_FALSE(errors.empty());
    // The file stores every line feed of the text as CRLF, the system text's own included.
    const std::string crlf = Crlf("===>>> ERROR :\n Code: 1603\nMsg: " + Narrow(SystemText(1603)));
    EXPECT_TRUE(Contains(errors, crlf)) << errors.back();
    const std::string reports = Narrow(ReadUtf8(folder + L"report-record.txt"));
    EXPECT_EQ(Occurrences(reports, "message="), 1u);
    EXPECT_NE(reports.find("message=" + Narrow(SystemText(1603))), std::string::npos);
    EXPECT_TRUE(FilesIn(CacheFolder()).empty()) << "emptied after the failure";
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue));
}

TEST_F(InstallFlowTest, RebootInitiatedWritesRunOnceKeepsTheCacheAndRestartsNothing) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=1641\n");
    RunToEnd(folder, L"CALLER=SETUP");
    wchar_t command[MAX_PATH + 1] = {};
    DWORD bytes = sizeof command;
    DWORD type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, RRF_RT_ANY, &type, command, &bytes), 0);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, 520u);
    EXPECT_EQ(std::wstring(command), L"\"" + CacheFolder() + L"QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP");
    EXPECT_TRUE(FileExists(CacheFolder() + L"QXVSetup64.exe")) << "the cache stays for the restart";
    auto texts = LogTexts("TRACE");
    EXPECT_TRUE(Contains(texts, "Reboot initiated"));
    EXPECT_FALSE(Contains(texts, "In RebootSystemNow"));
    EXPECT_FALSE(Contains(texts, "Deleting install source cache"));
}

// The package is not beside the launcher: a person is asked for the disc
// and points the prompt at the folder that holds it. That package is the
// one installed, and the record names its folder for the resume and later
// repairs. Shipped launcher, modules and package.
TEST_F(InstallFlowTest, MissingPackageAsksForTheDiscAndInstallsFromTheChosenFolder) {
    ASSERT_FALSE(ProductInstalled());
    const std::wstring folder = MakeLauncherFolder(folder_, kWithResourceModule | kWithRealModules);
    const std::wstring disc = folder_.substr(0, folder_.size() - 1) + L"-disc\\";
    RemoveTree(disc);
    SHCreateDirectoryExW(nullptr, disc.c_str(), nullptr);
    ASSERT_TRUE(CopyInto(ProductDir() + kPackageFile, disc));

    Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP");
    HWND prompt = WaitForWindow(L"#32770", kDiscPromptCaption, 20000);
    ASSERT_NE(prompt, nullptr) << "the disc prompt";
    // A dialog is shown once its set-up, which fills the path field, is done.
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(prompt) && GetDlgItem(prompt, 506); })) << "never shown";
    SendMessageW(GetDlgItem(prompt, 506), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(disc.c_str()));
    ASSERT_EQ(ControlText(prompt, 506), disc) << "the chosen folder is in the path field";
    ASSERT_TRUE(PressUntilGone(prompt, IDOK));
    const Outcome outcome = WaitForEnd(p, 120000);
    ASSERT_TRUE(outcome.ended && !outcome.crashed);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(outcome.messages.empty()) << Narrow(outcome.messages.empty() ? L"" : outcome.messages[0]);
    EXPECT_TRUE(ProductInstalled()) << "installed from the disc's folder";

    wchar_t recorded[MAX_PATH + 1] = {};
    DWORD bytes = MAX_PATH * sizeof(wchar_t);
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSourceRecordKey, kSourcePathValue, RRF_RT_REG_SZ, nullptr, recorded,
                           &bytes), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(recorded), disc) << "the record names the folder the package came from";
    const auto texts = LogTexts("TRACE");
    EXPECT_TRUE(InOrder(texts, {"PROMPT for user to insert the Disk (In SetupDlg - On Timer - First Time) . "
                                "Looking For\" QXPRP4005.msi \"",
                                Narrow(L"In DoInstallActions: " + ModuleTail(disc, L"CALLER=SETUP")),
                                Narrow(L"Package handed on by the launcher: " + disc + kPackageFile)}));
    // None but the package's absence beside the launcher (and of a record).
    for (const std::string& e : LogTexts("ERROR")) EXPECT_EQ(e.rfind(Crlf("===>>> ERROR :\n Code: 2\n"), 0), 0u) << e;
    UninstallProduct();
    RemoveTree(disc);
}

// A person who cancels the disc prompt has chosen not to install: nothing
// installed, no box, no worker, and the cancel's code as the exit code.
// Shipped launcher and modules, the package not beside them.
TEST_F(InstallFlowTest, CancelledDiscPromptIsACancelAndNoWorkerRuns) {
    const std::wstring folder = MakeLauncherFolder(folder_, kWithResourceModule | kWithRealModules);
    Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP");
    ASSERT_TRUE(p.Started());
    // Cancels each disc prompt, presses OK on any box (there must be none).
    const Outcome outcome = WaitForEnd(p, 60000);
    ASSERT_TRUE(outcome.ended && !outcome.crashed);
    EXPECT_EQ(outcome.discPrompts.size(), 1u);
    EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_INSTALL_USEREXIT));
    EXPECT_TRUE(outcome.messages.empty()) << "a cancel is no failure to report";
    EXPECT_FALSE(ProductInstalled());
    const auto texts = LogTexts("TRACE");
    EXPECT_TRUE(Contains(texts, "Disc prompt cancelled"));
    EXPECT_FALSE(Contains(texts, "Starting MSIThreadProc"));
    // None but the package's absence beside the launcher (and of a record).
    for (const std::string& e : LogTexts("ERROR")) EXPECT_EQ(e.rfind(Crlf("===>>> ERROR :\n Code: 2\n"), 0), 0u) << e;
}

TEST_F(InstallFlowTest, UnreadablePackageEndsTheFirstTickWithAReport) {
    // The installer cannot use it: its error, through the error module. (A
    // signed launcher refuses each before reading it, as not its release's
    // package: IntegrityTest.)
    for (const wchar_t* variant : {L"LongProductCode.msi", L"Garbage.msi", L"Truncated.msi"}) {
        SCOPED_TRACE(Narrow(variant));
        ClearLogs();
        const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario & ~kWithPackage);
        ASSERT_TRUE(CopyInto(FixturesDir() + variant, folder, L"QXPRP4005.msi"));
        WriteActionsScript(folder, "result=0\n");
        Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP");
        ASSERT_TRUE(p.Started());
        const Outcome outcome = WaitForEnd(p, kStartTimeoutMs);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_NE(outcome.exitCode, 0u);
        EXPECT_TRUE(Calls(folder).empty());
        EXPECT_EQ(Reports(folder), 1u);
        EXPECT_TRUE(outcome.messages.empty());
        auto errors = LogTexts("ERROR");
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors[0].rfind("===>>> ERROR :\r\n Code: ", 0), 0u) << errors[0];
    }
}

TEST_F(InstallFlowTest, EscapeWhileTheWorkerRunsChangesNothing) {
    const ActionsPause inModule(kPauseBeforeUnlock);
    Process p = StartHeldInModule("result=0\npause_before_unlock=1\n", inModule, L"CALLER=SETUP");
    ASSERT_FALSE(HasFailure());
    HWND popup = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        const auto shown = VisibleWindowsOf(p.Id(), L"#32770");
        popup = shown.empty() ? nullptr : shown[0];
        return popup != nullptr;
    })) << "the popup is not shown while the module holds the lock";

    // Escape as a key press and as the command it makes; the command is
    // sent, so it has been handled once the call returns.
    PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(popup, WM_COMMAND, IDCANCEL, 0, SMTO_NORMAL, kHangGuardMs, &answer));
    EXPECT_TRUE(IsWindow(popup) && IsWindowVisible(popup)) << "Escape ended or hid the popup under the module";
    EXPECT_FALSE(p.Wait(0)) << "Escape does not end the installation";

    inModule.Go();
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));
    auto calls = Calls(folder_);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(RecordField(calls[0], L"unlocked"), L"1") << "the module's unlock landed";
    // Still watching after the Escape: the dialog saw the module let go and
    // took the OK ending. A dialog the Escape had ended would have been gone
    // before the lock was.
    EXPECT_TRUE(InOrder(LogTexts("TRACE"),
                        {"Lock removed from UI MUTEX", "Hiding Hourglass AVI Window", "Exiting QXVSetup.exe"}));
}

}  // namespace
}  // namespace qxtest
