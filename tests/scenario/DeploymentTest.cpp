// Unattended deployment: the exit code tells a deployment tool what
// happened, "QUIET=YES" (or /quiet) shows no window at any moment (what a
// window would have said goes to the log), "NORESTART=YES" (or /norestart)
// leaves the restart to the caller while keeping everything the resume
// needs, /log writes the log where it is asked for, /uninstall removes the
// product, /? lists the switches.
#include <filesystem>
#include <shlobj.h>

#include <algorithm>

#include "framework/Ownership.h"
#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

constexpr DWORD kRebootPendingCode = 350;   // no action taken: a restart is required first

struct Ending {
    DWORD exitCode = STILL_ACTIVE;
    bool sawWindow = false;
};

class DeploymentTest : public ScenarioTest {
protected:
    // A fixture folder with the scripted module; the real Pad instead of
    // the recording one when throughPad.
    std::wstring Folder(const std::string& script, bool throughPad = false, bool withPackage = true) {
        unsigned contents = kInstallScenario;
        if (throughPad) contents &= ~kWithRecordingPad;
        if (!withPackage) contents &= ~kWithPackage;
        const std::wstring folder = MakeLauncherFolder(folder_, contents);
        if (throughPad) {
            EXPECT_TRUE(CopyPadInto(folder));
        }
        WriteActionsScript(folder, script);
        return folder;
    }

    // Runs program (the launcher or the Pad) to its end, watching for any
    // window of the launcher's while it runs.
    Ending Run(const std::wstring& program, const std::wstring& args) {
        Ending ending;
        Process p = Process::Start(program, args);
        EXPECT_TRUE(p.Started());
        if (!p.Started()) return ending;
        // A message box left waiting for a click would keep it running.
        EXPECT_TRUE(WaitWatchingWindows(p, 60000, ending.sawWindow)) << "did not end on its own";
        if (p.Wait(0)) {
            ending.exitCode = p.ExitCode();
        } else {
            p.Kill();
        }
        return ending;
    }

    // The installed product's Comments in Add/Remove Programs (ARPCOMMENTS); "(none)" without one.
    static std::wstring ArpComments() {
        wchar_t comment[128] = {};
        DWORD bytes = sizeof comment;
        const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::wstring(kProductGuid);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Comments", RRF_RT_REG_SZ, nullptr, comment, &bytes) !=
            ERROR_SUCCESS)
            return L"(none)";
        return comment;
    }

    static size_t ErrorsStartingWith(const std::string& prefix) {
        const auto errors = LogTexts("ERROR");
        return static_cast<size_t>(std::count_if(errors.begin(), errors.end(),
                                                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }
};

TEST_F(DeploymentTest, ExitCodeIsTheModulesResultUnchanged) {
    // 3010 and 3011 without a restart, so the prefix lives on.
    for (int result : {0, 1641, 1602, 1603, 3010, 3011}) {
        SCOPED_TRACE("result " + std::to_string(result));
        ClearLogs();
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        // Under Wine a cache level an earlier run made reads back as the
        // user's, so it would not be trusted to resume from (see README).
        RemoveCache();
        const std::wstring folder = Folder("result=" + std::to_string(result) + "\n");
        const Ending ending = Run(folder + L"QXVSetup64.exe", L"CALLER=SETUP NORESTART=YES QUIET=YES");
        EXPECT_EQ(ending.exitCode, static_cast<DWORD>(result));
        EXPECT_FALSE(ending.sawWindow);
    }
}

TEST_F(DeploymentTest, RefusalsAndAMissingPackageHaveTheirCodesAndNoWindow) {
    {
        SCOPED_TRACE("another installation runs");
        const qx::UniqueHandle other(CreateMutexW(nullptr, TRUE, kInstallMutexName));
        qx::MutexGuard held(other.get());
        const Ending ending = Run(Folder("result=0\n") + L"QXVSetup64.exe", L"CALLER=SETUP QUIET=YES");
        held.Release();
        EXPECT_EQ(ending.exitCode, static_cast<DWORD>(ERROR_INSTALL_ALREADY_RUNNING));
        EXPECT_FALSE(ending.sawWindow);
        const auto errors = LogTexts("ERROR");
        ASSERT_EQ(errors.size(), 1u) << "the refusal text is in the log instead";
        EXPECT_EQ(Words(Widen(errors[0])), Words(SystemText(ERROR_INSTALL_ALREADY_RUNNING)));
    }
    {
        SCOPED_TRACE("a restart is pending");
        ClearLogs();
        ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"x", 1));
        const Ending ending = Run(Folder("result=0\n") + L"QXVSetup64.exe", L"CALLER=SETUP QUIET=YES");
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
        EXPECT_EQ(ending.exitCode, kRebootPendingCode);
        EXPECT_FALSE(ending.sawWindow);
        const auto errors = LogTexts("ERROR");
        ASSERT_FALSE(errors.empty()) << "the pending-reboot text is in the log instead";
        std::string all;
        for (const auto& e : errors) all += e + "\n";
        EXPECT_NE(all.find("restart"), std::string::npos) << all;
    }
    {
        SCOPED_TRACE("the package is neither beside the launcher nor recorded");
        ClearLogs();
        DeleteKey(HKEY_LOCAL_MACHINE, kSourceRecordKey);
        const std::wstring folder = Folder("result=0\n", false, false);
        const Ending ending = Run(folder + L"QXVSetup64.exe", L"CALLER=SETUP QUIET=YES");
        EXPECT_EQ(ending.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_FALSE(ending.sawWindow) << "no disc prompt";
        EXPECT_FALSE(FileExists(folder + L"actions-record.txt")) << "nothing installed";
        EXPECT_FALSE(FileExists(folder + L"report-record.txt")) << "the error module shows a window: not called";
        EXPECT_GE(ErrorsStartingWith("===>>> ERROR :\r\n Code: 2\r\n"), 1u);
        const auto errors = LogTexts("ERROR");
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(Words(Widen(errors.back())), Words(SystemText(ERROR_FILE_NOT_FOUND))) << "the report's text, last";
    }
}

TEST_F(DeploymentTest, QuietRunsReportFailuresToTheLogOnly) {
    const std::wstring folder = Folder("result=1603\n");
    const Ending ending = Run(folder + L"QXVSetup64.exe", L"CALLER=SETUP QUIET=YES");
    EXPECT_EQ(ending.exitCode, 1603u);
    EXPECT_FALSE(ending.sawWindow);
    EXPECT_FALSE(FileExists(folder + L"report-record.txt")) << "the error module was not called";
    const auto errors = LogTexts("ERROR");
    ASSERT_EQ(errors.size(), 2u) << "the system-error record and the report's text";
    EXPECT_EQ(errors[0].rfind("===>>> ERROR :\r\n Code: 1603\r\n", 0), 0u);
    EXPECT_NE(errors[1], "");
    // The module saw the switch in the tail it receives.
    const auto calls = RecordLines(folder + L"actions-record.txt");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(RecordField(calls[0], L"tail").find(L"QUIET=YES"), std::wstring::npos);
}

TEST_F(DeploymentTest, WithoutTheSwitchesEverythingIsAsBefore) {
    // The error module's window and the hourglass still come; the exit code
    // is the only thing new.
    const std::wstring folder = Folder("result=1603\n");
    Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
    ASSERT_TRUE(p.Started());
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));
    EXPECT_EQ(p.ExitCode(), 1603u);
    EXPECT_NE(ReadUtf8(folder + L"report-record.txt").find(L"message="), std::wstring::npos);
}

TEST_F(DeploymentTest, NoRestartKeepsTheResumeAndLeavesTheMachineRunning) {
    const std::wstring folder = Folder("result=3010\n");
    const Ending ending = Run(folder + L"QXVSetup64.exe", L"CALLER=SETUP QUIET=YES NORESTART=YES");
    EXPECT_EQ(ending.exitCode, 3010u) << "this test still runs: no restart was started";
    wchar_t command[MAX_PATH] = {};
    DWORD bytes = sizeof command;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, RRF_RT_REG_SZ, nullptr, command, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(command),
              L"\"" + CacheFolder() + L"QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP QUIET=YES")
        << "the resumed run is quiet too";
    EXPECT_TRUE(FileExists(CacheFolder() + L"QXVSetup64.exe")) << "the cache stays for the resume";
    const auto texts = LogTexts("TRACE");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Restart left to the caller (NORESTART=YES)"), texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "In RebootSystemNow"), texts.end());
}

TEST_F(DeploymentTest, ThePadPassesItsArgumentsOnAndEndsWithTheLaunchersCode) {
    for (int result : {0, 1603, 3010}) {
        SCOPED_TRACE("result " + std::to_string(result));
        ClearLogs();
        RemoveCache();
        const std::wstring folder = Folder("result=" + std::to_string(result) + "\n", true);
        const Ending ending = Run(folder + L"Setup.exe", L"QUIET=YES NORESTART=YES");
        EXPECT_EQ(ending.exitCode, static_cast<DWORD>(result));
        const auto calls = RecordLines(folder + L"actions-record.txt");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(RecordField(calls[0], L"tail"), ModuleTail(folder, L"CALLER=SETUP QUIET=YES NORESTART=YES"));
    }
    {
        SCOPED_TRACE("refused");
        const qx::UniqueHandle other(CreateMutexW(nullptr, TRUE, kInstallMutexName));
        qx::MutexGuard held(other.get());
        const Ending ending = Run(Folder("result=0\n", true) + L"Setup.exe", L"QUIET=YES");
        held.Release();
        EXPECT_EQ(ending.exitCode, static_cast<DWORD>(ERROR_INSTALL_ALREADY_RUNNING));
        EXPECT_FALSE(ending.sawWindow);
    }
    {
        SCOPED_TRACE("launcher missing: a quiet Pad shows no box either");
        const std::wstring folder = Folder("result=0\n", true);
        DeleteFileW((folder + L"QXVSetup64.exe").c_str());
        const Ending ending = Run(folder + L"Setup.exe", L"QUIET=YES");
        EXPECT_EQ(ending.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_FALSE(ending.sawWindow);
    }
}

TEST_F(DeploymentTest, BareStartForwardedToThePadEndsWithZero) {
    const std::wstring folder = Folder("result=1603\n");
    const Ending ending = Run(folder + L"QXVSetup64.exe", L"");
    EXPECT_EQ(ending.exitCode, 0u);
}

// The forms administrators type for other setups, through the real Pad:
// passed on to the launcher and the module unchanged, and acted on as the
// product's own forms are.
TEST_F(DeploymentTest, ConventionalSwitchesThroughThePad) {
    const struct {
        const wchar_t* args;
        int result;
        bool leftToCaller;
    } cases[] = {
        {L"/quiet", 0, false},          {L"-QUIET", 0, false},  {L"/qn", 0, false},
        {L"/Q", 0, false},              {L"/quiet /norestart", 3010, true},
        {L"-q -NoRestart", 3011, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.args));
        ClearLogs();
        RemoveCache();
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        const std::wstring folder = Folder("result=" + std::to_string(c.result) + "\n", true);
        const Ending ending = Run(folder + L"Setup.exe", c.args);
        EXPECT_EQ(ending.exitCode, static_cast<DWORD>(c.result));
        EXPECT_FALSE(ending.sawWindow) << "no window of the product's at any moment";
        const auto calls = RecordLines(folder + L"actions-record.txt");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(RecordField(calls[0], L"tail"), ModuleTail(folder, L"CALLER=SETUP " + std::wstring(c.args)));
        EXPECT_EQ(Contains(LogTexts("TRACE"), "Restart left to the caller (NORESTART=YES)"), c.leftToCaller);
        EXPECT_EQ(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue), c.leftToCaller) << "resume armed";
    }
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
}

// /log: the launcher's records go to the file asked for (a path with
// spaces), the RunOnce command carries it, and the resumed run appends.
TEST_F(DeploymentTest, LogGoesWhereItIsAskedForAndTheResumedRunAppends) {
    RemoveCache();
    const std::wstring logFolder = L"C:\\qxtest\\deploy logs\\";
    RemoveTree(logFolder);
    SHCreateDirectoryExW(nullptr, logFolder.c_str(), nullptr);
    const std::wstring log = logFolder + L"setup log.log";
    const std::wstring folder = Folder("result=3010\n", true);
    const Ending ending = Run(folder + L"Setup.exe", L"/quiet /norestart /log \"" + log + L"\"");
    EXPECT_EQ(ending.exitCode, 3010u);
    EXPECT_TRUE(LogFiles().empty()) << "nothing in the default log folder";
    const auto texts = LogTextsIn(ReadBytes(log), "TRACE");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Inside QXVSetup.exe"), 1);
    const auto calls = RecordLines(folder + L"actions-record.txt");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(RecordField(calls[0], L"log"), log) << "the module writes into the same file";

    wchar_t command[1024] = {};
    DWORD bytes = sizeof command;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, RRF_RT_REG_SZ, nullptr, command, &bytes),
              ERROR_SUCCESS);
    const std::wstring launcher = CacheFolder() + L"QXVSetup64.exe";
    const std::wstring resumeArgs = L"AFTERREBOOT=YES CALLER=SETUP QUIET=YES /log \"" + log + L"\"";
    EXPECT_EQ(std::wstring(command), L"\"" + launcher + L"\" " + resumeArgs);

    // The resumed run, as Windows starts it after the restart.
    WriteActionsScript(folder, "result=0\n");
    const Ending resumed = Run(launcher, resumeArgs);
    EXPECT_EQ(resumed.exitCode, 0u);
    const auto after = LogTextsIn(ReadBytes(log), "TRACE");
    EXPECT_EQ(std::count(after.begin(), after.end(), "Inside QXVSetup.exe"), 2) << "appended to the same file";
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
}

// A deployment tool deletes the folder it ran the setup from once it ends.
// The resume after the restart then finds no package, beside it or at the
// record: with the product installed (a 3010 left it so) nothing is left to
// install, so it asks for no disc and completes (0), quiet or not; with the
// product not installed a person is asked for the disc as before. Shipped
// launcher, modules and package; the cache as a 3010 run leaves it.
TEST_F(DeploymentTest, AResumeWhoseSourceIsGoneCompletesWhenNothingIsLeftToInstall) {
    const struct {
        const char* what;
        bool installed;
        const wchar_t* args;
        DWORD code;
        bool prompted;   // a person asked for the disc
    } cases[] = {
        {"installed, a person watching", true, L"AFTERREBOOT=YES CALLER=SETUP", 0, false},
        {"installed, quiet", true, L"AFTERREBOOT=YES CALLER=SETUP QUIET=YES", 0, false},
        {"not installed, a person watching", false, L"AFTERREBOOT=YES CALLER=SETUP", ERROR_INSTALL_USEREXIT, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UninstallProduct();
        RemoveCache();
        const std::wstring source = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyPadInto(source));
        if (c.installed) {
            ASSERT_EQ(Run(source + L"Setup.exe", L"/quiet /norestart").exitCode, 0u);
            ASSERT_TRUE(ProductInstalled());
        }
        // What a 3010 run leaves: the cache and the record of its source.
        const std::wstring cache = CacheFolder();
        std::filesystem::create_directories(cache);
        for (const wchar_t* file : {kLauncherFile64, L"QXVInstallActions64.dll", L"CustomActionData64.dll",
                                    L"QXVSetupRES64.dll", kErrorModuleFile})
            ASSERT_TRUE(CopyInto(source + file, cache));
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSourceRecordKey, kSourcePathValue, REG_SZ, source.c_str(),
                             static_cast<DWORD>((source.size() + 1) * sizeof(wchar_t))));
        RemoveTree(source);
        ASSERT_FALSE(PathExists(source + kPackageFile));
        ClearLogs();

        Process resumed = Process::Start(cache + kLauncherFile64, c.args);
        ASSERT_TRUE(resumed.Started());
        if (c.prompted) {
            // The person is asked for the disc and cancels: a cancel, with
            // nothing installed and nothing to report.
            const HWND prompt = WaitForWindow(L"#32770", kDiscPromptCaption, 60000);
            ASSERT_NE(prompt, nullptr) << "no disc prompt";
            ASSERT_TRUE(PressUntilGone(prompt, IDCANCEL));
            ASSERT_TRUE(resumed.Wait(60000)) << "a box waits for a click after the cancel";
            EXPECT_EQ(resumed.ExitCode(), c.code);
            EXPECT_FALSE(ProductInstalled());
            continue;
        }
        const Outcome outcome = WaitForEnd(resumed, 120000);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, c.code);
        EXPECT_TRUE(outcome.discPrompts.empty());
        EXPECT_TRUE(ProductInstalled());
        EXPECT_TRUE(outcome.messages.empty()) << "no box";
        const auto texts = LogTexts("TRACE");
        EXPECT_TRUE(Contains(texts, "After the restart: the source is gone and the product is installed; no disc "
                                    "is asked for"));
        EXPECT_TRUE(Contains(texts, "Deleting install source cache")) << "the cache is emptied";
    }
    UninstallProduct();
}

// What is not understood, or asked for help, installs nothing: 87 with the
// help box (an ERROR record in a quiet run), or 0 for the help itself.
TEST_F(DeploymentTest, HelpAndSwitchesNotUnderstoodInstallNothing) {
    const std::wstring deep = L"C:\\qxtest\\" + std::wstring(250, L'l') + L".log";
    const struct {
        const wchar_t* what;
        std::wstring args;
        DWORD code;
        bool box;
        const char* error;   // the ERROR record's beginning, when one is written
    } cases[] = {
        {L"help", L"/?", 0, true, nullptr},
        {L"help, quiet", L"-help /quiet", 0, false, nullptr},
        {L"unknown switch", L"/bogus", ERROR_INVALID_PARAMETER, true, "Switch not understood: /bogus"},
        {L"unknown switch, quiet", L"/quiet /bogus", ERROR_INVALID_PARAMETER, false, "Switch not understood: /bogus"},
        {L"log without its file", L"/quiet /log", ERROR_INVALID_PARAMETER, false, "Switch not understood: /log"},
        {L"log in a missing folder", L"/quiet /log C:\\qxtest\\no-such-folder\\x.log", ERROR_INVALID_PARAMETER,
         false, "Log file not used: C:\\qxtest\\no-such-folder\\x.log: its folder is missing"},
        {L"log path too long", L"/quiet /log " + deep, ERROR_INVALID_PARAMETER, false, "Log file not used: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.what));
        ClearLogs();
        const std::wstring folder = Folder("result=0\n");
        Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP " + c.args);
        ASSERT_TRUE(p.Started());
        const Outcome outcome = WaitForEnd(p, 60000);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, c.code);
        ASSERT_EQ(outcome.messages.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_NE(outcome.messages[0].find(L"/norestart"), std::wstring::npos) << "the switches are listed";
        }
        EXPECT_FALSE(FileExists(folder + L"actions-record.txt")) << "nothing installed";
        if (c.error) {
            EXPECT_EQ(ErrorsStartingWith(c.error), 1u);
        }
    }
}

// /uninstall with the shipped module, quietly: removed, then not installed;
// what the installation cached goes, and no resume entry is written.
TEST_F(DeploymentTest, UninstallRemovesTheProductAndThenFindsNothingToRemove) {
    UninstallProduct();
    RemoveCache();
    const std::wstring folder = MakeShippedFolder(folder_);
    ASSERT_TRUE(CopyPadInto(folder));
    const Ending installed = Run(folder + L"Setup.exe", L"/quiet");
    ASSERT_EQ(installed.exitCode, 0u);
    ASSERT_TRUE(ProductInstalled());
    for (const auto& [args, code] : {std::pair{L"/uninstall /quiet", 0u}, std::pair{L"-Uninstall -qn", 1605u}}) {
        SCOPED_TRACE(Narrow(args));
        ClearLogs();
        const Ending ending = Run(folder + L"Setup.exe", args);
        EXPECT_EQ(ending.exitCode, code);
        EXPECT_FALSE(ending.sawWindow);
        EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN);
        EXPECT_TRUE(FilesIn(CacheFolder()).empty()) << "nothing cached for a removal";
        EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue));
        EXPECT_FALSE(Contains(LogTexts("TRACE"), "Getting Product Info")) << "no package is looked for";
    }
}

// Public properties on the command line reach the installer, through the
// real Pad and the shipped module: a folder with a blank, a value with
// quotes (the product's comment in its Add/Remove Programs entry).
TEST_F(DeploymentTest, PublicPropertiesReachTheInstaller) {
    UninstallProduct();
    RemoveCache();
    const std::wstring folder = MakeShippedFolder(folder_);
    ASSERT_TRUE(CopyPadInto(folder));
    // No backslash before the closing quote: Windows' programs would take it
    // for a quote of the value.
    const std::wstring target = L"C:\\qxtest\\Custom Dir";
    RemoveTree(target + L"\\");
    const Ending ending =
        Run(folder + L"Setup.exe", L"/quiet /norestart \"INSTALLDIR=" + target + L"\" ARPCOMMENTS=\"say \\\"hi\\\" now\"");
    EXPECT_EQ(ending.exitCode, 0u);
    EXPECT_TRUE(ProductInstalled());
    EXPECT_TRUE(FileExists(target + L"\\readme.txt")) << "installed where the administrator said";
    EXPECT_EQ(ArpComments(), L"say \"hi\" now") << "quotes arrive intact";
    EXPECT_TRUE(Contains(LogTexts("TRACE"),
                         "Product state -1; installing with \"INSTALLDIR=\"" + Narrow(target) +
                             "\" ARPCOMMENTS=\"say \"\"hi\"\" now\"\""));
    UninstallProduct();
    RemoveTree(target + L"\\");
}

// A property whose value holds one of the product's switches: the value
// reaches the installer, and the run does what its own switches say, not
// what the value says (shipped Pad, module and package).
TEST_F(DeploymentTest, ASwitchInsideAPropertysValueIsAValue) {
    struct Case {
        const char* what;
        std::wstring args;
        bool installedBefore;
        bool window;          // a passive run shows the hourglass, a quiet one no window at all
        const wchar_t* comment;
    };
    const Case cases[] = {
        {"a removal in a value", L"/quiet /norestart ARPCOMMENTS=UNINSTALL=YES", true, false, L"UNINSTALL=YES"},
        {"quiet in a quoted value", L"/passive /norestart \"ARPCOMMENTS=QUIET=YES\"", false, true, L"QUIET=YES"},
        {"no restart in a value", L"/quiet \"ARPCOMMENTS=say NORESTART=YES\" /norestart", false, false,
         L"say NORESTART=YES"},
    };
    const std::wstring folder = MakeShippedFolder(folder_);
    ASSERT_TRUE(CopyPadInto(folder));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UninstallProduct();
        RemoveCache();
        if (c.installedBefore) {
            ASSERT_EQ(Run(folder + L"Setup.exe", L"/quiet /norestart").exitCode, 0u);
            ASSERT_TRUE(ProductInstalled());
        }
        ClearLogs();
        const Ending ending = Run(folder + L"Setup.exe", c.args);
        EXPECT_EQ(ending.exitCode, 0u);
        EXPECT_TRUE(ProductInstalled()) << "installed (or repaired), not removed";
        // The hourglass may come and go between two looks: its thread's record tells.
        EXPECT_EQ(Contains(LogTexts("TRACE"), "Starting Thread for hourglass AVI"), c.window);
        if (!c.window) {
            EXPECT_FALSE(ending.sawWindow) << "no window in a quiet run";
        }
        EXPECT_EQ(ArpComments(), c.comment) << "the value reached the installer";
    }
    UninstallProduct();
}

// The resume after a restart installs with the same properties: the RunOnce
// command carries them, quoted as arguments, within its buffer; one that
// would not fit, or a secret (its name ends in PASSWORD or KEY: a RunOnce
// value is readable by every user), arms no resume (1604), and a secret's
// value never reaches the log.
TEST_F(DeploymentTest, TheResumeCarriesThePropertiesOrIsNotArmed) {
    struct Case {
        const char* what;
        std::wstring properties;
        DWORD code;
        std::wstring carried;   // after the resume's switches; empty: no entry
    };
    const Case cases[] = {
        {"a folder with a blank", L"\"INSTALLDIR=C:\\Custom Dir\\\\\" ADDLOCAL=ALL", 3010,
         L" \"INSTALLDIR=C:\\Custom Dir\\\\\" ADDLOCAL=ALL"},
        {"a secret", L"ADDLOCAL=ALL SERVICEPASSWORD=s3cret", 1604, L""},
        {"too long for the entry", L"TRANSFORMS=" + std::wstring(600, L'x') + L".mst", 1604, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLogs();
        RemoveCache();
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        const std::wstring folder = Folder("result=3010\n");
        const Ending ending = Run(folder + L"QXVSetup64.exe", L"CALLER=SETUP QUIET=YES NORESTART=YES " + c.properties);
        EXPECT_EQ(ending.exitCode, c.code);
        wchar_t command[1024] = {};
        DWORD bytes = sizeof command;
        const LSTATUS read =
            RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, RRF_RT_REG_SZ, nullptr, command, &bytes);
        if (c.carried.empty()) {
            EXPECT_NE(read, ERROR_SUCCESS) << "no entry";
            EXPECT_EQ(ErrorsStartingWith("Resume after restart not armed: "), 1u);
        } else {
            ASSERT_EQ(read, ERROR_SUCCESS);
            EXPECT_EQ(std::wstring(command), L"\"" + CacheFolder() +
                                                 L"QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP QUIET=YES" + c.carried);
            // Split back as the resumed launcher splits its tail, it is what was given.
            const auto resumed = qx::SplitArguments(std::wstring(command).c_str());
            EXPECT_EQ(resumed[resumed.size() - 2], L"INSTALLDIR=C:\\Custom Dir\\");
        }
        bool wellFormed = false;
        for (const auto& record : AllLogRecords(&wellFormed))
            EXPECT_EQ(record.text.find("s3cret"), std::string::npos) << "a secret in the log";
    }
}

// /passive: the hourglass and the installer's progress as in a run a person
// watches, but nothing that waits for a click: a refusal goes to the log
// as in a quiet run, and the exit codes are the quiet run's.
TEST_F(DeploymentTest, PassiveShowsProgressAndWaitsForNoClick) {
    UninstallProduct();
    RemoveCache();
    {
        SCOPED_TRACE("the shipped folder installs, through the Pad");
        const std::wstring folder = MakeShippedFolder(folder_);
        ASSERT_TRUE(CopyPadInto(folder));
        Process p = Process::Start(folder + kPadFile, L"/passive /norestart");
        ASSERT_TRUE(p.Started());
        const Outcome outcome = WaitForEnd(p, 120000);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_TRUE(outcome.messages.empty()) << "no box";
        EXPECT_TRUE(ProductInstalled());
        EXPECT_TRUE(Contains(LogTexts("TRACE"), "Starting Thread for hourglass AVI")) << "the hourglass shows";
        UninstallProduct();
    }
    {
        SCOPED_TRACE("a pending restart");
        ClearLogs();
        ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"x", 1));
        Process p = Process::Start(Folder("result=0\n") + kLauncherFile64, L"CALLER=SETUP /passive");
        ASSERT_TRUE(p.Started());
        const Outcome outcome = WaitForEnd(p, 60000);
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
        ASSERT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.exitCode, kRebootPendingCode);
        EXPECT_TRUE(outcome.messages.empty()) << "no box waits";
        EXPECT_FALSE(LogTexts("ERROR").empty()) << "the text is in the log instead";
    }
}

}  // namespace
}  // namespace qxtest
