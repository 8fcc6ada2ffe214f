// Installations that end asking for a restart (3010, 3011) when the launcher
// cannot arrange the whole restart cycle: when its cache may not be used,
// so no resume entry can be written, and when its process may not shut the
// machine down. The caller learns of the needed restart from the exit code
// either way; the machine is never left in a state that resumes from a
// cache that is not there. A restart that really happens is driven from
// outside the prefix (RestartWithoutResume.cmake); these cases keep the
// prefix running.
#include "tests/scenario/ScenarioTest.h"

#include <algorithm>

#include "tests/support/Desktop.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

size_t ErrorsStartingWith(const std::string& prefix) {
    const auto errors = LogTexts("ERROR");
    return static_cast<size_t>(std::count_if(errors.begin(), errors.end(),
                                             [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
}


bool HasPrivilege(HANDLE token, const LUID& privilege) {
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) return true;   // assume the worst
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        if (luid.LowPart == privilege.LowPart && luid.HighPart == privilege.HighPart) return true;
    }
    return false;
}

// A launcher started with this program's rights less the shutdown
// privilege, as a person's process that was not given it.
struct LimitedLauncher {
    qx::UniqueHandle process;
    qx::UniqueHandle thread;
};

// desktop: the "station\\desktop" to start it on; empty: this program's.
LimitedLauncher StartWithoutShutdownPrivilege(const std::wstring& exe, const std::wstring& args,
                                              std::wstring desktop = L"") {
    LimitedLauncher launcher;
    LUID shutdown = {};
    qx::UniqueHandle own;
    qx::UniqueHandle limited;
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()))
        return launcher;
    LUID_AND_ATTRIBUTES removed = {shutdown, 0};
    if (!CreateRestrictedToken(own.get(), 0, 0, nullptr, 1, &removed, 0, nullptr, limited.put())) return launcher;
    std::wstring commandLine = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (!desktop.empty()) si.lpDesktop = desktop.data();
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessAsUserW(limited.get(), exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                              CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
        return launcher;
    launcher.process.reset(pi.hProcess);
    launcher.thread.reset(pi.hThread);
    // Only a process that truly lacks the privilege may go on: one that has
    // it would restart the prefix this test runs in.
    qx::UniqueHandle token;
    if (!OpenProcessToken(pi.hProcess, TOKEN_QUERY, token.put()) || HasPrivilege(token.get(), shutdown)) {
        TerminateProcess(pi.hProcess, 99);
        launcher.process.reset();
        launcher.thread.reset();
    }
    return launcher;
}

class RestartRequestTest : public ScenarioTest {
protected:
    void TearDown() override {
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        DeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Selkirk-Vane\\Installed Products\\" + std::wstring(kProductGuid));
        DeleteValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
        RemoveCache();
    }
};

TEST_F(RestartRequestTest, WithoutAUsableCacheTheRestartIsLeftToTheCallerWithNoResumeEntry) {
    for (const int result : {3010, 3011}) {
        SCOPED_TRACE("result " + std::to_string(result));
        ClearLogs();
        const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario & ~kWithPackage);
        // Another product name: the cache folder it names is not the product's own.
        ASSERT_TRUE(CopyInto(FixturesDir() + L"PreviewProduct.msi", folder, kPackageFile));
        WriteActionsScript(folder, "result=" + std::to_string(result) + "\nlist_cache=1\n");
        Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP QUIET=YES NORESTART=YES");
        ASSERT_TRUE(p.Started());
        ASSERT_TRUE(p.Wait(kStartTimeoutMs)) << "the launcher did not end";
        EXPECT_EQ(p.ExitCode(), 1604u) << "the caller is told the installation is suspended, not done";

        const auto calls = RecordLines(folder + L"actions-record.txt");
        ASSERT_EQ(calls.size(), 1u) << "the installation ran";
        EXPECT_EQ(RecordField(calls[0], L"cache").find(L"QXVSetup64.exe"), std::wstring::npos) << "nothing cached";
        EXPECT_EQ(ErrorsStartingWith("Install source cache not used: "), 1u);
        EXPECT_EQ(ErrorsStartingWith("Resume after restart not armed: the install source cache is not used: "), 1u);
        EXPECT_EQ(ErrorsStartingWith("===>>> ERROR :\r\n Code: 1604\r\n"), 1u) << "logged as a failed installation";
        EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue))
            << "no entry that would start a launcher that is not there";
        EXPECT_FALSE(FileExists(CacheFolder() + L"QXVSetup64.exe"));
        const auto texts = LogTexts("TRACE");
        EXPECT_TRUE(Contains(texts, "Reboot required"));
        EXPECT_TRUE(Contains(texts, "Restart left to the caller (NORESTART=YES)"));
        EXPECT_FALSE(Contains(texts, "In RebootSystemNow"));
    }
}

// A person is asked before the restart. The launcher runs without the
// shutdown privilege, so a yes cannot restart the prefix this test runs in:
// it shows as a request that was made and refused.
TEST_F(RestartRequestTest, APersonIsAskedFirstAndTheResumeStandsEitherWay) {
    struct Case {
        int result;
        int answer;
    };
    for (const Case c : {Case{3010, IDNO}, Case{3011, IDNO}, Case{3010, IDYES}}) {
        SCOPED_TRACE("result " + std::to_string(c.result) + (c.answer == IDYES ? ", yes" : ", no"));
        ClearLogs();
        RemoveCache();
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
        WriteActionsScript(folder, "result=" + std::to_string(c.result) + "\n");
        LimitedLauncher launcher = StartWithoutShutdownPrivilege(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
        ASSERT_TRUE(launcher.process) << "could not start a launcher without the shutdown privilege";
        ResumeThread(launcher.thread.get());
        const HWND box = WaitForWindow(L"#32770", L"QX Prism P4000 Series Setup", kHangGuardMs);
        ASSERT_NE(box, nullptr) << "no restart question";
        EXPECT_NE(WindowText(GetDlgItem(box, 0xFFFF)).find(L"needs a restart of Windows to finish"), std::wstring::npos);
        EXPECT_EQ(FindWindowW(nullptr, L"QXVSetup64"), nullptr) << "the hourglass is gone before the question";
        EXPECT_TRUE(PressUntilGone(box, c.answer));
        ASSERT_EQ(WaitForSingleObject(launcher.process.get(), kHangGuardMs), WAIT_OBJECT_0)
            << "the launcher did not end";
        // This test still runs: the prefix was not restarted.
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(launcher.process.get(), &code);
        EXPECT_EQ(code, static_cast<DWORD>(c.result)) << "the caller is told a restart is needed";

        EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "the installation ran";
        const auto texts = LogTexts("TRACE");
        EXPECT_TRUE(Contains(texts, "Reboot required"));
        EXPECT_EQ(Contains(texts, "Restart left to the person"), c.answer == IDNO);
        EXPECT_EQ(Contains(texts, "In RebootSystemNow"), c.answer == IDYES) << "a restart asked for only on a yes";
        EXPECT_FALSE(Contains(texts, "Exiting RebootSystemNow")) << "and none made";
        // Whoever restarts the machine next resumes the installation.
        wchar_t command[MAX_PATH] = {};
        DWORD bytes = sizeof command;
        ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, RRF_RT_REG_SZ, nullptr, command, &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(command), L"\"" + CacheFolder() + L"QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP");
        EXPECT_TRUE(FileExists(CacheFolder() + L"QXVSetup64.exe")) << "the cache stays for the resume";
    }
}

// A passive run restarts as a quiet one does, without asking anyone, and
// its resume after the restart is passive too. (Without the shutdown
// privilege the request is made and refused: this test's prefix stays up.)
TEST_F(RestartRequestTest, APassiveRunRestartsWithoutAskingAndResumesPassively) {
    RemoveCache();
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=3010\n");
    LimitedLauncher launcher =
        StartWithoutShutdownPrivilege(folder + L"QXVSetup64.exe", L"CALLER=SETUP /passive ADDLOCAL=ALL");
    ASSERT_TRUE(launcher.process) << "could not start a launcher without the shutdown privilege";
    ResumeThread(launcher.thread.get());
    ASSERT_EQ(WaitForSingleObject(launcher.process.get(), kHangGuardMs), WAIT_OBJECT_0)
        << "the launcher did not end: a box waits";
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(launcher.process.get(), &code);
    EXPECT_EQ(code, 3010u) << "the request was refused: the restart is still the caller's";
    const auto texts = LogTexts("TRACE");
    EXPECT_TRUE(Contains(texts, "In RebootSystemNow")) << "asked for without a question";
    EXPECT_TRUE(Contains(texts, "Restart asked of the interactive session (ExitWindowsEx)"));
    EXPECT_EQ(ErrorsStartingWith("===>>> ERROR :\r\n Code: 1300\r\n"), 1u) << "the refusal is logged";
    EXPECT_FALSE(Contains(texts, "Restart left to the person"));
    wchar_t command[1024] = {};
    DWORD bytes = sizeof command;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, RRF_RT_REG_SZ, nullptr, command, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(command),
              L"\"" + CacheFolder() + L"QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP PASSIVE=YES ADDLOCAL=ALL");
}

// Where nobody sees (the co-installer's session 0; here a window station
// that is not visible), ExitWindowsEx could take the request and restart
// nothing: the system is asked instead. Without the shutdown privilege the
// request is refused, this test's prefix stays up, and the restart stays
// the caller's (3010) with the resume armed.
TEST_F(RestartRequestTest, WhereNobodySeesTheSystemIsAskedToRestart) {
    const std::wstring desktop = UnseenDesktop();
    ASSERT_FALSE(desktop.empty()) << "could not make a window station that is not visible";
    RemoveCache();
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=3010\n");
    LimitedLauncher launcher =
        StartWithoutShutdownPrivilege(folder + kLauncherFile64, L"CALLER=COINSTALLER", desktop);
    ASSERT_TRUE(launcher.process) << "could not start a launcher without the shutdown privilege";
    ResumeThread(launcher.thread.get());
    ASSERT_EQ(WaitForSingleObject(launcher.process.get(), kHangGuardMs), WAIT_OBJECT_0) << "the launcher did not end";
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(launcher.process.get(), &code);
    EXPECT_EQ(code, 3010u);
    const auto texts = LogTexts("TRACE");
    EXPECT_TRUE(InOrder(texts, {"No one can see this session: running quiet", "In RebootSystemNow",
                                "Restart asked of the system (InitiateShutdownW): not the interactive user's session"}));
    EXPECT_FALSE(Contains(texts, "Restart started: exit code 1641"));
    EXPECT_EQ(ErrorsStartingWith("===>>> ERROR :\r\n Code: 1300\r\n"), 1u);
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue)) << "the resume waits for the restart";
}

// A quiet run restarts without asking, but every other program is asked:
// one holding work it will not give up keeps running, the machine stays up,
// and the resume waits for the next restart.
TEST_F(RestartRequestTest, AProgramThatDeclinesKeepsRunningAndTheResumeStands) {
    RemoveCache();
    const std::wstring record = folder_ + L"person-record.txt";
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=3010\n");
    Process person = Process::Start(DoublesDir() + L"person\\Person.exe", L"\"" + record + L"\" refuse");
    ASSERT_TRUE(person.Started());
    ASSERT_TRUE(WaitUntil([&] { return ReadUtf8(record).find(L"ready") != std::wstring::npos; }));

    Process launcher = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP QUIET=YES");
    ASSERT_TRUE(launcher.Started());
    ASSERT_TRUE(launcher.Wait(kHangGuardMs)) << "the launcher did not end";
    EXPECT_EQ(launcher.ExitCode(), 1641u) << "the launcher started the restart: the caller starts none of its own";
    const auto texts = LogTexts("TRACE");
    EXPECT_TRUE(InOrder(texts, {"In RebootSystemNow", "Restart asked of the interactive session (ExitWindowsEx)",
                                "Exiting RebootSystemNow", "Restart started: exit code 1641"}))
        << "the restart was asked for";
    ASSERT_TRUE(WaitUntil([&] { return ReadUtf8(record).find(L"refused") != std::wstring::npos; }))
        << "the program with unsaved work was never asked";
    // The system's shutdown has given up once nothing of it runs any more.
    EXPECT_TRUE(WaitUntilNoneRuns(L"C:\\windows\\system32\\wineboot.exe"));
    EXPECT_FALSE(person.Ended()) << "its work is still there";
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue)) << "the resume waits for the next restart";
    EXPECT_TRUE(FileExists(CacheFolder() + kLauncherFile64));
}

// A resumed run leaves the cache's files in use to be deleted at the next
// restart. A run that fills the cache again and arms a resume of its own
// takes them out of those deletions first, or the restart would delete what
// its RunOnce entry starts; another program's pending deletion stays. (Wine
// does not trust a cache level an earlier run made, so the deletions are
// planted with no cache there, as MoveFileExW needs no file.)
TEST_F(RestartRequestTest, ARunThatFillsTheCacheAgainTakesItOutOfThePendingDeletions) {
    const std::wstring cache = CacheFolder();
    std::wstring resourceModule = cache + kResourceModuleFile;
    CharUpperBuffW(resourceModule.data(), static_cast<DWORD>(resourceModule.size()));
    const std::wstring others = cache.substr(0, cache.size() - 1) + L"2\\leftover.tmp";
    for (const std::wstring& path : {cache + kLauncherFile64, cache + kCustomActionDataFile, resourceModule,
                                     cache.substr(0, cache.size() - 1), others})
        ASSERT_TRUE(MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_EQ(PendingRenames().size(), 5u);

    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=3010\n");
    Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP QUIET=YES NORESTART=YES");
    ASSERT_TRUE(p.Started());
    ASSERT_TRUE(p.Wait(kStartTimeoutMs)) << "the launcher did not end";
    EXPECT_EQ(p.ExitCode(), 3010u);
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue)) << "the resume is armed";
    for (const wchar_t* file :
         {kLauncherFile64, kInstallActionsFile, kCustomActionDataFile, kResourceModuleFile, kErrorModuleFile}) {
        const std::string source = ReadBytes(folder + file);
        EXPECT_FALSE(source.empty());
        EXPECT_TRUE(ReadBytes(cache + file) == source) << Narrow(file) << " is not in the cache as in its source";
    }
    EXPECT_EQ(PendingRenames(), (std::vector<PendingRename>{{L"\\??\\" + others, L""}}))
        << "only another program's deletion is left";
    const auto traces = LogTexts("TRACE");
    EXPECT_EQ(std::count_if(traces.begin(), traces.end(),
                            [](const std::string& t) { return t.rfind("Pending deletion taken out: \\??\\", 0) == 0; }),
              4);
}

// A restart with a whole cache arms the resume; a resumed run whose cache
// has lost a module since says which, ends with a code that is not success
// and shows nothing in a quiet run (no loader box after a restart).
TEST_F(RestartRequestTest, AResumedRunLackingAModuleNamesItAndFails) {
    RemoveCache();
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=3010\n");
    Process first = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP QUIET=YES NORESTART=YES");
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(first.Wait(kStartTimeoutMs));
    EXPECT_EQ(first.ExitCode(), 3010u) << "a whole cache: nothing changes";
    ASSERT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue)) << "the resume is armed";
    EXPECT_EQ(ErrorsStartingWith("Resume after restart not armed"), 0u);

    ClearLogs();
    const std::wstring lost = CacheFolder() + L"QXVInstallActions64.dll";
    ASSERT_TRUE(DeleteFileW(lost.c_str()));
    Process resumed = Process::Start(CacheFolder() + kLauncherFile64, L"AFTERREBOOT=YES CALLER=SETUP QUIET=YES");
    ASSERT_TRUE(resumed.Started());
    bool sawWindow = true;
    ASSERT_TRUE(WaitWatchingWindows(resumed, 60000, sawWindow)) << "the resumed run did not end";
    EXPECT_FALSE(sawWindow);
    EXPECT_EQ(resumed.ExitCode(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(ErrorsStartingWith("Could not load " + Narrow(lost)), 1u);
    EXPECT_TRUE(RecordLines(folder + L"actions-record.txt").size() == 1u) << "no second installation call";
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
}

}  // namespace
}  // namespace qxtest
