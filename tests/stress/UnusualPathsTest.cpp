// Folders a person may really have: a launcher folder or a temporary folder
// (the user's profile) whose name holds a percent sign, characters beyond 8
// bits, or comes near the 260 characters a path may have. The log shows
// each path whole (a character beyond U+00FF as "?"), the source record
// holds it exactly, the cache is filled from it, and the resume after a
// restart finds the package through it without asking for the disc.
#include <shlobj.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/support/Harness.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

constexpr wchar_t kRoot[] = L"C:\\qxtest\\UnusualPaths\\";   // 23 characters
constexpr DWORD kRunTimeoutMs = 60000;

// A folder below the root whose path, trailing backslash included, is
// length characters long.
std::wstring FolderOfLength(size_t length) {
    return std::wstring(kRoot) + std::wstring(length - wcslen(kRoot) - 1, L'n') + L"\\";
}

struct Place {
    const char* name;
    std::wstring path;     // ends in a backslash
    std::string logged;    // the path as the log's bytes show it
};

std::vector<Place> Places(size_t longLength) {
    const std::string root = "C:\\qxtest\\UnusualPaths\\";
    return {
        {"percent signs and format characters", std::wstring(kRoot) + L"100% sure %s%n%d\\",
         root + "100% sure %s%n%d\\"},
        {"characters beyond 8 bits", std::wstring(kRoot) + L"Pr\x00fc" L"fung \x20ac \x65e5\x672c\\",
         root + "Pr\xfc" "fung ? ??\\"},
        {"near the longest path", FolderOfLength(longLength),
         root + std::string(longLength - root.size() - 1, 'n') + "\\"},
    };
}

class StressUnusualPaths : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ResetKnownState()); }

    // Runs a program with the whole command line given until it ends; it
    // must neither crash nor show a message or a disc prompt.
    static void RunQuietly(const std::wstring& program, const std::wstring& commandLine,
                           const std::map<std::wstring, std::wstring>& environment = {}) {
        StartOptions options;
        options.commandLine = commandLine;
        options.environment = environment;
        Process child = Process::Start(program, options);
        ASSERT_TRUE(child.Started()) << "error " << child.StartError();
        const Outcome outcome = WaitForEnd(child, kRunTimeoutMs);
        EXPECT_TRUE(outcome.ended) << "did not end";
        EXPECT_FALSE(outcome.crashed) << std::hex << outcome.exitCode;
        EXPECT_TRUE(outcome.messages.empty()) << Narrow(outcome.messages.empty() ? L"" : outcome.messages[0]);
        EXPECT_TRUE(outcome.discPrompts.empty()) << "asked for the disc at " << Narrow(outcome.discPrompts[0]);
    }

    // The texts of the records of the one log file in folder.
    static std::vector<std::string> LogIn(const std::wstring& folder, std::wstring* file = nullptr) {
        std::vector<std::wstring> files;
        for (const std::wstring& name : FilesIn(folder)) {
            if (name.rfind(L"~qx", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, L".log") == 0)
                files.push_back(folder + name);
        }
        EXPECT_EQ(files.size(), 1u) << "one log in " << Narrow(folder);
        if (files.empty()) return {};
        if (file) *file = files[0];
        bool wellFormed = false;
        std::vector<std::string> texts;
        for (const auto& r : ParseLog(ReadBytes(files[0]), &wellFormed)) texts.push_back(r.text);
        EXPECT_TRUE(wellFormed) << "the log holds only whole records";
        return texts;
    }
};

TEST_F(StressUnusualPaths, LauncherFolderIsLoggedRecordedCachedAndResumedFrom) {
    // Near the longest: the module with the longest name, beside the
    // launcher, has a path of 259 characters.
    for (const Place& place : Places(259 - wcslen(L"QXVInstallActions64.dll"))) {
        SCOPED_TRACE(place.name);
        ASSERT_TRUE(ResetProductState());
        const std::wstring folder = MakeLauncherFolder(place.path, kInstallScenario);
        ASSERT_TRUE(FileExists(folder + L"QXVInstallActions64.dll"));
        // The installation asks for a restart it starts itself: the resume
        // entry is written and the cache kept.
        WriteActionsScript(folder, "result=1641\nresult_after_reboot=0\nlist_cache=1\n");
        RunQuietly(folder + L"QXVSetup64.exe", L"\"" + folder + L"QXVSetup64.exe\" CALLER=SETUP");

        auto calls = RecordLines(folder + L"actions-record.txt");
        ASSERT_EQ(calls.size(), 1u) << "the installation ran";
        EXPECT_NE(RecordField(calls[0], L"cache").find(L"QXVSetup64.exe;"), std::wstring::npos)
            << "the launcher was copied into the cache from this folder";
        wchar_t recorded[MAX_PATH + 1] = {};
        DWORD bytes = MAX_PATH * sizeof(wchar_t);
        ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSourceRecordKey, L"SourcePath", RRF_RT_REG_SZ, nullptr, recorded,
                               &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(recorded), folder) << "the source folder recorded exactly";
        const auto texts = LogIn(LogFolder());
        EXPECT_TRUE(Contains(texts, "SourcePath: " + place.logged)) << "logged whole";
        // A line longer than a record may hold is left out, never cut.
        const std::string sourceLine = "Out of GetSourcePath : " + place.logged;
        const bool fits = sourceLine.size() <= 255;
        EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                                [](const std::string& t) { return t.rfind("Out of GetSourcePath : ", 0) == 0; }),
                  std::count(texts.begin(), texts.end(), sourceLine))
            << "no cut line";
        EXPECT_EQ(Contains(texts, sourceLine), fits);

        // After the restart, Windows starts the entry's command.
        wchar_t command[MAX_PATH] = {};
        bytes = sizeof command;
        ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, RRF_RT_REG_SZ, nullptr, command, &bytes),
                  ERROR_SUCCESS);
        const std::wstring cached = CacheFolder() + L"QXVSetup64.exe";
        ASSERT_EQ(std::wstring(command), L"\"" + cached + L"\" AFTERREBOOT=YES CALLER=SETUP");
        ClearLogs();
        RunQuietly(cached, command);
        calls = RecordLines(folder + L"actions-record.txt");
        ASSERT_EQ(calls.size(), 2u) << "the resumed installation ran, the package found through the record";
        EXPECT_EQ(RecordField(calls[1], L"tail"), ModuleTail(folder, L"AFTERREBOOT=YES CALLER=SETUP"))
            << "the package found through the record is handed on";
        EXPECT_TRUE(Contains(LogIn(LogFolder()), "Exiting QXVSetup.exe"));
    }
}

TEST_F(StressUnusualPaths, TemporaryFolderOfTheProfileHoldsTheWholeLog) {
    const std::wstring folder = MakeLauncherFolder(std::wstring(kRoot) + L"launcher\\", kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    const std::wstring guid = std::wstring(kProductGuid) + L"\\";
    // Near the longest: the log's own name takes the path to 255
    // characters, all a record's path may have.
    for (const Place& temp : Places(255 - guid.size() - wcslen(L"~qxffff.log"))) {
        SCOPED_TRACE(temp.name);
        ClearLogs();
        DeleteFileW((folder + L"actions-record.txt").c_str());
        ASSERT_EQ(SHCreateDirectoryExW(nullptr, temp.path.c_str(), nullptr), ERROR_SUCCESS);
        RunQuietly(folder + L"QXVSetup64.exe", L"\"" + folder + L"QXVSetup64.exe\" CALLER=SETUP",
                   {{L"TMP", temp.path}, {L"TEMP", temp.path}});

        std::wstring file;
        const auto texts = LogIn(temp.path + guid, &file);
        ASSERT_FALSE(texts.empty()) << "no record in the profile's temporary folder";
        EXPECT_EQ(texts.front(), "Inside QXVSetup.exe");
        EXPECT_TRUE(Contains(texts, "Exiting QXVSetup.exe"));
        const auto calls = RecordLines(folder + L"actions-record.txt");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(RecordField(calls[0], L"log"), file) << "the module is given the same log";
        EXPECT_TRUE(LogFiles().empty()) << "nothing in the usual temporary folder";
    }
}

TEST_F(StressUnusualPaths, LogPathLongerThanARecordsPathWritesNoOtherFile) {
    // The log's own name takes the path to 259 characters, more than the 255
    // a record's path may have.
    const std::wstring temp = FolderOfLength(259 - wcslen(kProductGuid) - 1 - wcslen(L"~qxffff.log"));
    const std::wstring logFolder = temp + kProductGuid + L"\\";
    for (const bool shipped : {false, true}) {
        SCOPED_TRACE(shipped ? "the shipped modules, installing for real" : "the install-actions double");
        RemoveTree(temp);
        ASSERT_EQ(SHCreateDirectoryExW(nullptr, temp.c_str(), nullptr), ERROR_SUCCESS);
        UninstallProduct();
        ASSERT_FALSE(ProductInstalled());
        const std::wstring folder = shipped ? MakeShippedFolder(std::wstring(kRoot) + L"shipped\\")
                                            : MakeLauncherFolder(std::wstring(kRoot) + L"double\\", kInstallScenario);
        WriteActionsScript(folder, "result=0\n");
        RunQuietly(folder + L"QXVSetup64.exe", L"\"" + folder + L"QXVSetup64.exe\" CALLER=SETUP",
                   {{L"TMP", temp}, {L"TEMP", temp}});
        if (shipped) {
            EXPECT_TRUE(ProductInstalled()) << "the installation itself does not need the log";
            UninstallProduct();
        } else {
            const auto calls = RecordLines(folder + L"actions-record.txt");
            ASSERT_EQ(calls.size(), 1u) << "the installation ran";
            const std::wstring log = RecordField(calls[0], L"log");
            EXPECT_EQ(log.rfind(logFolder + L"~qx", 0), 0u) << "the module is given the log's whole name";
            EXPECT_GT(log.size(), 255u);
        }
        // No record can go to that name; none may go to any other file.
        std::vector<std::wstring> files;
        for (const std::wstring& name : FilesIn(logFolder)) {
            if (!(GetFileAttributesW((logFolder + name).c_str()) & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(name);
        }
        EXPECT_TRUE(files.empty()) << "records written to a file named by a cut path: " << Narrow(files[0]);
        EXPECT_TRUE(LogFiles().empty()) << "nor in the usual temporary folder";
    }
}

}  // namespace
}  // namespace qxtest
