// Started where nobody can see a window (the device co-installer runs in
// session 0; here a window station that is not visible stands in for it):
// every prompt the launcher or the Pad would show becomes an ERROR record,
// each run ends by itself with the quiet run's code, and the installer gets
// the quiet switch so it shows no window either.
#include <functional>

#include "framework/NativeMachine.h"
#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

constexpr DWORD kNotThisRelease = 1306;   // a file the signed launcher pins, not of its release

struct UnseenCase {
    const char* name;
    // Makes the folder (in the given path) and whatever the case needs
    // around it; returns the folder.
    std::function<std::wstring(const std::wstring&)> prepare;
    const wchar_t* program;        // started from the folder
    DWORD exitCode;
    const char* errorPart;         // a part of some ERROR record; null: none expected
    bool installs;                 // whether the install-actions module is called
    const wchar_t* machine = nullptr;   // the computer a development build is told it runs on
};

struct HeldMutex {
    qx::UniqueHandle handle;
    ~HeldMutex() {
        if (handle) ReleaseMutex(handle.get());
    }
};

std::wstring Scripted(const std::wstring& path, const std::string& script, unsigned drop = 0) {
    const std::wstring folder = MakeLauncherFolder(path, kInstallScenario & ~drop);
    WriteActionsScript(folder, script);
    return folder;
}

class UnseenSessionTest : public ScenarioTest {
protected:
    void TearDown() override {
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
        UninstallProduct();
    }
};

TEST_F(UnseenSessionTest, EveryPromptBecomesALogRecordAndTheRunEndsByItself) {
    const std::wstring desktop = UnseenDesktop();
    ASSERT_FALSE(desktop.empty()) << "could not make a window station that is not visible";
    HeldMutex other;
    const UnseenCase cases[] = {
        {"a restart is pending",
         [](const std::wstring& path) {
             EXPECT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"x", 1));
             return Scripted(path, "result=0\n");
         },
         kLauncherFile64, 350, "restart", false},
        {"another installation runs",
         [&other](const std::wstring& path) {
             other.handle.reset(CreateMutexW(nullptr, TRUE, kInstallMutexName));
             return Scripted(path, "result=0\n");
         },
         kLauncherFile64, ERROR_INSTALL_ALREADY_RUNNING, "already", false},
        {"the package is missing and no source is recorded",
         [](const std::wstring& path) {
             DeleteKey(HKEY_LOCAL_MACHINE, kSourceRecordKey);
             return Scripted(path, "result=0\n", kWithPackage);
         },
         kLauncherFile64, ERROR_FILE_NOT_FOUND, " Code: 2\r\n", false},
        {"the installation fails, with the shipped error module",
         [](const std::wstring& path) {
             const std::wstring folder = Scripted(path, "result=1603\n", kWithRecordingReporter);
             EXPECT_TRUE(CopyInto(ProductDir() + kErrorModuleFile, folder));
             return folder;
         },
         kLauncherFile64, 1603, " Code: 1603\r\n", true},
        {"a module is not signed",
         [](const std::wstring& path) {
             const std::wstring folder = MakeShippedFolder(path);
             EXPECT_TRUE(CopyInto(BuildDir() + L"tests\\trust\\unsigned\\QXVInstallActions64.dll", folder));
             return folder;
         },
         kLauncherFile64, kNotThisRelease, "File refused, not of this release (", false},
        {"the Pad cannot start the launcher",
         [](const std::wstring& path) {
             const std::wstring folder = Scripted(path, "result=0\n", kWithRecordingPad);
             EXPECT_TRUE(CopyPadInto(folder));
             EXPECT_TRUE(DeleteFileW((folder + kLauncherFile64).c_str()));
             return folder;
         },
         kPadFile, ERROR_FILE_NOT_FOUND, nullptr, false},
        {"an ARM64 computer, the shipped modules around a development build",
         [](const std::wstring& path) { return MakeDevelopmentFolder(path); },
         kLauncherFile64, 1633, "ARM64 processor", false, L"AA64"},
        {"a clean installation",
         [](const std::wstring& path) { return Scripted(path, "result=0\n"); },
         kLauncherFile64, 0, nullptr, true},
    };
    int n = 0;
    for (const UnseenCase& c : cases) {
        SCOPED_TRACE(c.name);
        ClearLogs();
        // A cache level an earlier case made reads back as the user's under Wine (see README).
        RemoveCache();
        const std::wstring folder = c.prepare(folder_ + std::to_wstring(++n) + L"\\");
        StartOptions options;
        options.commandLine = L"\"" + folder + c.program + L"\" CALLER=COINSTALLER";
        options.desktop = desktop;
        if (c.machine) options.environment[qx::kNativeMachineVariable] = c.machine;
        Process p = Process::Start(folder + c.program, options);
        ASSERT_TRUE(p.Started());
        // Against a hang only: a box nobody sees would wait for ever.
        const bool ended = p.Wait(kHangGuardMs);
        if (!ended) p.Kill();
        EXPECT_TRUE(ended) << "still waiting where nobody can answer";
        other.handle.reset();
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
        if (!ended) continue;
        EXPECT_EQ(p.ExitCode(), c.exitCode);

        const auto calls = RecordLines(folder + L"actions-record.txt");
        EXPECT_EQ(calls.size(), c.installs ? 1u : 0u);
        if (!calls.empty()) {
            EXPECT_NE(RecordField(calls[0], L"tail").find(L"CALLER=COINSTALLER QUIET=YES"), std::wstring::npos)
                << "the installer is told to show no window";
        }
        if (c.program == std::wstring(kPadFile)) continue;   // the Pad writes no log
        EXPECT_TRUE(Contains(LogTexts("TRACE"), "No one can see this session: running quiet"));
        std::string all;
        for (const auto& e : LogTexts("ERROR")) all += e + "\n";
        if (c.errorPart) {
            EXPECT_NE(all.find(c.errorPart), std::string::npos) << all;
        } else {
            EXPECT_EQ(all, "");
        }
    }
}

}  // namespace
}  // namespace qxtest
