// On an ARM64 computer the product's x64 driver cannot work: the launcher
// and the Pad install nothing and end with 1633, telling a person in a box
// and an unattended run in the log. Wine runs on x64 only, so a development
// build is told the machine (kNativeMachineVariable) with the shipped
// modules and package around it; the shipped, signed files never read it.
#include "framework/NativeMachine.h"
#include "framework/ResourceText.h"
#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

constexpr DWORD kNotForThisProcessor = 1633;   // ERROR_INSTALL_PLATFORM_UNSUPPORTED
constexpr DWORD kRebootPendingCode = 350;

class ProcessorTest : public ScenarioTest {
protected:
    void TearDown() override {
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
        UninstallProduct();
    }

    // Nothing of an installation is left: no product, no cache, no resume,
    // no source record.
    static void ExpectNothingInstalled() {
        EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN) << "the product was installed";
        EXPECT_FALSE(FileExists(CacheFolder() + kLauncherFile64)) << "the launcher was cached";
        EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue)) << "a RunOnce entry";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSourceRecordKey)) << "a source record";
    }
};

TEST_F(ProcessorTest, NothingIsInstalledOnArm64AndEachRunSaysWhy) {
    const std::wstring english = qx::FormatInserts(
        qx::ResourceString(qx::UniqueModule(LoadLibraryExW((ProductDir() + kResourceModuleFile).c_str(), nullptr,
                                                           LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE))
                               .get(),
                           kIdsNotForThisProcessor, qx::kEnglishLanguage),
        {});
    ASSERT_FALSE(english.empty());
    const struct {
        const char* name;
        const wchar_t* program;
        const wchar_t* args;
        const wchar_t* boxCaption;   // null: no box, the text in the log
        bool launcherRuns;           // whether the launcher was started (and logs)
    } cases[] = {
        {"a person starts the Pad", kPadFile, L"", kPadCaption, false},
        {"a person starts the launcher through its caller switch", kLauncherFile64, L"CALLER=SETUP",
         kLauncherCaption, true},
        {"a person starts the launcher without a caller switch", kLauncherFile64, L"", kLauncherCaption, true},
        {"a deployment through the Pad", kPadFile, L"/quiet /norestart", nullptr, true},
        {"a passive run through the Pad", kPadFile, L"/passive", nullptr, true},
        {"the device co-installer, quiet", kLauncherFile64, L"CALLER=COINSTALLER QUIET=YES", nullptr, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearLogs();
        const std::wstring folder = MakeDevelopmentFolder(folder_ + std::to_wstring(++n) + L"\\");
        Process p = Process::Start(folder + c.program, OnArm64(folder + c.program, c.args));
        ASSERT_TRUE(p.Started());
        if (c.boxCaption) {
            HWND box = WaitForBoxOf(p, c.boxCaption);
            ASSERT_NE(box, nullptr) << "no box; ended with " << p.ExitCode();
            EXPECT_EQ(ControlText(box, 0xFFFF), english);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            ASSERT_TRUE(p.Wait(kStartTimeoutMs));
        } else {
            bool sawWindow = true;
            ASSERT_TRUE(WaitWatchingWindows(p, kHangGuardMs, sawWindow)) << "did not end by itself";
            EXPECT_FALSE(sawWindow);
        }
        EXPECT_EQ(p.ExitCode(), kNotForThisProcessor);
        ExpectNothingInstalled();
        const auto traces = LogTexts("TRACE");
        EXPECT_FALSE(Contains(traces, "Caller is not coInstaller either so lets call the Pad (setup.exe)"))
            << "forwarded to the Pad";
        EXPECT_EQ(!traces.empty(), c.launcherRuns) << "whether the launcher ran";
        const auto errors = LogTexts("ERROR");
        if (c.boxCaption) {
            EXPECT_TRUE(errors.empty());
        } else {
            ASSERT_EQ(errors.size(), 1u) << "the text is in the log instead";
            EXPECT_EQ(Words(Widen(errors[0])), Words(english));
        }
        EXPECT_FALSE(Contains(traces, "Showing Hourglass"));
    }
}

TEST_F(ProcessorTest, ARemovalStillRunsOnArm64) {
    // Nothing is installed, so the shipped module's removal finds nothing to remove.
    const std::wstring folder = MakeDevelopmentFolder(folder_);
    bool sawWindow = true;
    Process p = Process::Start(folder + kPadFile, OnArm64(folder + kPadFile, L"/uninstall /quiet"));
    ASSERT_TRUE(WaitWatchingWindows(p, kHangGuardMs, sawWindow));
    EXPECT_FALSE(sawWindow);
    EXPECT_EQ(p.ExitCode(), static_cast<DWORD>(ERROR_UNKNOWN_PRODUCT));
    for (const std::string& error : LogTexts("ERROR")) EXPECT_EQ(error.find("ARM64"), std::string::npos) << error;
}

TEST_F(ProcessorTest, TheShippedFilesAndOtherMachinesDoNotRefuse) {
    // With a restart pending the run ends with 350 after the processor's
    // check: a 1633 would mean the setting was read, or the check refused
    // a machine that can use the driver.
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"x", 1));
    const struct {
        const char* name;
        bool shipped;              // the signed launcher and Pad, or a development build
        const wchar_t* machine;    // what the setting says
    } cases[] = {
        {"the signed Pad and launcher, told ARM64", true, L"AA64"},
        {"a development build told x64", false, L"8664"},
        {"a development build told nonsense", false, L"not-a-machine"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder_ + std::to_wstring(++n) + L"\\";
        const std::wstring folder = c.shipped ? MakeShippedFolder(path) : MakeDevelopmentFolder(path);
        if (c.shipped) {
            ASSERT_TRUE(CopyPadInto(folder));
        }
        for (const wchar_t* program : {kPadFile, kLauncherFile64}) {
            const bool pad = wcscmp(program, kPadFile) == 0;
            StartOptions options = OnArm64(folder + program, pad ? L"/quiet" : L"CALLER=SETUP QUIET=YES");
            options.environment[qx::kNativeMachineVariable] = c.machine;
            Process p = Process::Start(folder + program, options);
            ASSERT_TRUE(p.Wait(kHangGuardMs));
            EXPECT_EQ(p.ExitCode(), kRebootPendingCode) << Narrow(program);
        }
    }
}

}  // namespace
}  // namespace qxtest
