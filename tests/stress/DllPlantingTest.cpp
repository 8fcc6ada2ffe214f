// DLLs planted in the current folder and on PATH under the names of the
// modules the launcher loads at run time: the launcher takes its modules
// from its own folder and the system's only, so a planted one is never
// loaded, even when the launcher's own copy is missing. System DLLs that
// Windows does not always take from its system folder, planted beside the
// launcher as well, are never loaded either.
#include <gtest/gtest.h>

#include "tests/support/Harness.h"

#include <psapi.h>
#include <shlobj.h>

namespace qxtest {
namespace {

constexpr wchar_t kRoot[] = L"C:\\qxtest\\StressDllPlanting\\";

std::vector<std::wstring> LoadedModules(HANDLE process) {
    std::vector<std::wstring> paths;
    HMODULE modules[512];
    DWORD needed = 0;
    if (!EnumProcessModulesEx(process, modules, sizeof modules, &needed, LIST_MODULES_ALL)) return paths;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
        wchar_t path[MAX_PATH] = {};
        if (GetModuleFileNameExW(process, modules[i], path, MAX_PATH)) paths.push_back(path);
    }
    return paths;
}

// The pending-reboot text as the launcher makes it from a resource module.
std::vector<std::wstring> RebootWords(const std::wstring& module) {
    const std::wstring definition = ResourceString(module, kIdsPendingReboot);
    wchar_t* formatted = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER | 60,
                   definition.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&formatted), 0, nullptr);
    std::wstring s = formatted ? formatted : L"";
    if (formatted) LocalFree(formatted);
    return Words(s);
}

class StressDllPlanting : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ResetKnownState());
        cwd_ = std::wstring(kRoot) + L"cwd\\";
        path_ = std::wstring(kRoot) + L"path\\";
        const std::wstring planted = BuildDir() + L"tests\\stress\\planted.dll";
        for (const auto& f : {cwd_, path_}) {
            SHCreateDirectoryExW(nullptr, f.c_str(), nullptr);
            ASSERT_TRUE(CopyInto(planted, f, L"QXVSetupRES64.dll"));
            ASSERT_TRUE(CopyInto(planted, f, L"QXPRP4005P64.dll"));
        }
    }
    // Starts the launcher with the planted folders as its current folder
    // and first on its PATH; extra: more variables of its environment.
    Process Start(const std::wstring& folder, const std::wstring& args,
                const std::map<std::wstring, std::wstring>& extra = {}) {
        wchar_t path[8192] = {};
        GetEnvironmentVariableW(L"PATH", path, 8192);
        StartOptions options;
        options.commandLine = L"\"" + folder + L"QXVSetup64.exe\"" + (args.empty() ? L"" : L" " + args);
        options.currentFolder = cwd_;
        options.environment = {{L"PATH", path_ + L";" + path}};
        options.environment.insert(extra.begin(), extra.end());
        options.outputFile = std::wstring(kRoot) + L"output.txt";
        return Process::Start(folder + L"QXVSetup64.exe", options);
    }

    void ExpectNothingPlantedLoaded(const std::wstring& launcherFolder = L"") {
        std::vector<std::wstring> folders = {cwd_, path_};
        if (!launcherFolder.empty()) folders.push_back(launcherFolder);
        for (const auto& f : folders)
            EXPECT_FALSE(FileExists(f + L"planted-loads.txt"))
                << "a planted DLL was loaded:\n" << Narrow(ReadUtf8(f + L"planted-loads.txt"));
    }

    std::wstring cwd_, path_;
};

TEST_F(StressDllPlanting, ResourceModuleMissingFromTheLaunchersFolder) {
    const std::wstring folder = MakeLauncherFolder(std::wstring(kRoot) + L"app\\", kInstallScenario & ~kWithResourceModule);
    {
        SCOPED_TRACE("forwarded to the Pad");
        Process launcher = Start(folder, L"");
        ASSERT_TRUE(launcher.Started());
        const Outcome outcome = WaitForEnd(launcher, 30000);
        EXPECT_TRUE(outcome.ended && !outcome.crashed);
        ExpectNothingPlantedLoaded();
    }
    {
        SCOPED_TRACE("pending reboot, looked at while its message is up");
        ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"Marker", 1));
        Process launcher = Start(folder, L"CALLER=SETUP");
        ASSERT_TRUE(launcher.Started());
        HWND box = nullptr;
        for (int i = 0; i < 200 && !box; ++i) {
            for (const auto& w : TopLevelWindows(launcher.Id()))
                if (w.windowClass == L"#32770" && w.caption == kLauncherCaption) box = w.window;
            if (!box) Sleep(100);
        }
        ASSERT_NE(box, nullptr) << "no pending-reboot message";
        const std::wstring system = L"c:\\windows\\system32\\";
        const auto modules = LoadedModules(launcher.Handle());
        EXPECT_GT(modules.size(), 5u);
        for (const auto& m : modules) {
            const std::wstring lower = Lower(m);
            const std::wstring dir = lower.substr(0, lower.find_last_of(L'\\') + 1);
            // The common controls the manifest asks for come from the system's side-by-side store.
            const bool sideBySide = lower.rfind(L"c:\\windows\\winsxs\\", 0) == 0;
            EXPECT_TRUE(dir == Lower(folder) || dir == system || sideBySide) << "loaded from elsewhere: " << Narrow(m);
        }
        const Outcome outcome = WaitForEnd(launcher, 30000);
        EXPECT_TRUE(outcome.ended && !outcome.crashed);
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
        ExpectNothingPlantedLoaded();
    }
    {
        SCOPED_TRACE("failed installation without the error module");
        const std::wstring noReporter = MakeLauncherFolder(
            std::wstring(kRoot) + L"app2\\", kInstallScenario & ~kWithResourceModule & ~kWithRecordingReporter);
        WriteActionsScript(noReporter, "result=1603\n");
        ClearLogs();
        Process launcher = Start(noReporter, L"CALLER=SETUP");
        ASSERT_TRUE(launcher.Started());
        const Outcome outcome = WaitForEnd(launcher, 30000);
        EXPECT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(RecordLines(noReporter + L"actions-record.txt").size(), 1u);
        bool wellFormed = false;
        EXPECT_EQ(CountText(AllLogRecords(&wellFormed), "Could not load error reproting module"), 1u);
        ExpectNothingPlantedLoaded();
    }
}

TEST_F(StressDllPlanting, OwnFolderComesFirstAndTheErrorModuleStillLoads) {
    const std::wstring folder = MakeLauncherFolder(std::wstring(kRoot) + L"app\\", kInstallScenario);
    {
        SCOPED_TRACE("pending reboot: the text of the launcher's own resource module");
        ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"Marker", 1));
        Process launcher = Start(folder, L"CALLER=SETUP");
        ASSERT_TRUE(launcher.Started());
        const Outcome outcome = WaitForEnd(launcher, 30000);
        EXPECT_TRUE(outcome.ended && !outcome.crashed);
        ASSERT_EQ(outcome.messages.size(), 1u);
        const auto expected = RebootWords(folder + L"QXVSetupRES64.dll");
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(Words(outcome.messages[0]), expected);
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
    }
    {
        SCOPED_TRACE("failed installation: the error module beside the launcher reports it");
        WriteActionsScript(folder, "result=1603\n");
        Process launcher = Start(folder, L"CALLER=SETUP");
        ASSERT_TRUE(launcher.Started());
        const Outcome outcome = WaitForEnd(launcher, 30000);
        EXPECT_TRUE(outcome.ended && !outcome.crashed);
        const std::wstring reports = ReadUtf8(folder + L"report-record.txt");
        EXPECT_NE(reports.find(L"message=" + SystemText(1603)), std::wstring::npos)
            << "loaded by its full path and called: " << Narrow(reports);
    }
    ExpectNothingPlantedLoaded();
}

// The system DLL the product binaries look up that is not on Windows'
// KnownDLLs list. Wine is told to prefer a file of that name over its own
// copy in the launcher, as Windows always does for such a DLL. Wine takes
// that from the registry: WINEDLLOVERRIDES in the environment a Wine
// program gives its child does not reach the child's loader. (version.dll
// cannot be tried so: Wine's own user32 and setupapi import it, so a
// preferred file of that name is loaded into any program there; on Windows
// those are KnownDLLs that do not.)
constexpr const wchar_t* kNonKnownSystemDlls[] = {L"msi"};

// Wine is told, for one program, to prefer files of these names over its own.
class PrefersFilesOverBuiltins {
public:
    PrefersFilesOverBuiltins(const std::wstring& appDefaultsKey, std::initializer_list<const wchar_t*> dlls)
        : key_(appDefaultsKey) {
        const wchar_t order[] = L"native,builtin";
        for (const wchar_t* dll : dlls)
            EXPECT_TRUE(SetValue(HKEY_CURRENT_USER, key_ + L"\\DllOverrides", dll, REG_SZ, order, sizeof order));
    }
    ~PrefersFilesOverBuiltins() { DeleteKey(HKEY_CURRENT_USER, key_); }

private:
    std::wstring key_;
};

class LauncherPrefersFilesOverBuiltins : public PrefersFilesOverBuiltins {
public:
    LauncherPrefersFilesOverBuiltins() : PrefersFilesOverBuiltins(kLauncherAppDefaultsKey, {L"msi"}) {}
};

TEST_F(StressDllPlanting, SystemDllsComeOnlyFromTheSystemFolder) {
    UninstallProduct();
    const std::wstring folder = MakeShippedFolder(std::wstring(kRoot) + L"shipped\\");
    const std::wstring planted = BuildDir() + L"tests\\stress\\planted.dll";
    for (const auto& f : {folder, cwd_, path_})
        for (const wchar_t* dll : kNonKnownSystemDlls) ASSERT_TRUE(CopyInto(planted, f, dll + std::wstring(L".dll")));

    ClearLogs();
    const LauncherPrefersFilesOverBuiltins overrides;
    Process launcher = Start(folder, L"CALLER=SETUP", {{L"WINEDLLOVERRIDES", L"msi=n,b"}});
    ASSERT_TRUE(launcher.Started());
    const Outcome outcome = WaitForEnd(launcher, 180000, std::wstring(kRoot) + L"output.txt");
    EXPECT_TRUE(outcome.ended && !outcome.crashed) << outcome.crashText;
    ExpectNothingPlantedLoaded(folder);
    EXPECT_TRUE(ProductInstalled()) << "the installation completed with the system's own installer";
    bool wellFormed = false;
    const auto records = AllLogRecords(&wellFormed);
    EXPECT_TRUE(wellFormed);
    EXPECT_EQ(CountText(records, Narrow(L"In DoInstallActions: " + ModuleTail(folder, L"CALLER=SETUP"))), 1u);
    EXPECT_EQ(CountText(records, "Exiting MsiThreadproc"), 1u);
    for (const auto& r : records) EXPECT_NE(r.type, "ERROR") << r.text;
    UninstallProduct();
}

// Helpers that system DLLs load by bare name while a program runs (dwmapi;
// dbghelp and rsaenh, which the signature check's libraries bring in: none
// of them on Windows' KnownDLLs list), planted beside the
// program with Wine told to prefer such a file for it, as Windows always
// does: the launcher and the Pad limit their search to the system folder
// before anything runs, so each gets the system folder's copy.
TEST_F(StressDllPlanting, HelpersLoadedByBareNameComeFromTheSystemFolder) {
    const std::wstring planted = BuildDir() + L"tests\\stress\\planted.dll";
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    {
        SCOPED_TRACE("a module of the launcher loads dwmapi.dll while it runs");
        const std::wstring folder = MakeLauncherFolder(std::wstring(kRoot) + L"helpers\\", kInstallScenario);
        WriteActionsScript(folder, "result=0\nload_dwmapi=1\n");
        for (const wchar_t* dll : {L"dwmapi.dll", L"dbghelp.dll", L"rsaenh.dll"}) ASSERT_TRUE(CopyInto(planted, folder, dll));
        const PrefersFilesOverBuiltins overrides(kLauncherAppDefaultsKey, {L"dwmapi", L"dbghelp", L"rsaenh"});
        Process launcher = Start(folder, L"CALLER=SETUP");
        ASSERT_TRUE(launcher.Started());
        const Outcome outcome = WaitForEnd(launcher, 60000);
        EXPECT_TRUE(outcome.ended && !outcome.crashed);
        const auto calls = RecordLines(folder + L"actions-record.txt");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(Lower(RecordField(calls[0], L"loaded")), Lower(std::wstring(system) + L"\\dwmapi.dll"));
        ExpectNothingPlantedLoaded(folder);
    }
    {
        SCOPED_TRACE("the Pad tells that the launcher is missing, in a box");
        const std::wstring folder = std::wstring(kRoot) + L"pad\\";
        RemoveTree(folder);
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        ASSERT_TRUE(CopyPadInto(folder));
        for (const wchar_t* dll : {L"dbghelp.dll", L"rsaenh.dll"}) ASSERT_TRUE(CopyInto(planted, folder, dll));
        const PrefersFilesOverBuiltins overrides(L"Software\\Wine\\AppDefaults\\Setup.exe", {L"dbghelp", L"rsaenh"});
        Process pad = Process::Start(folder + kPadFile, L"");
        ASSERT_TRUE(pad.Started());
        const Outcome outcome = WaitForEnd(pad, 60000);
        EXPECT_TRUE(outcome.ended && !outcome.crashed);
        EXPECT_EQ(outcome.messages.size(), 1u);
        EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        ExpectNothingPlantedLoaded(folder);
    }
}

}  // namespace
}  // namespace qxtest
