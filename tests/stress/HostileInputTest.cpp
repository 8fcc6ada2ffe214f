// Hostile input of every kind the launcher takes in: its command line, the
// registry values it reads, the package's texts, its companion modules and
// its temporary folder. Each case has its own expected outcome, and every
// case must end on its own, without a crash, having created, changed or
// deleted nothing in the prefix but the product's own folders and records.
#include <shlobj.h>

#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "framework/Ownership.h"
#include "tests/stress/PrefixState.h"
#include "tests/support/Harness.h"
#include "tests/support/Links.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

constexpr wchar_t kCurrentFolder[] = L"C:\\qxstress-cwd\\";   // walked: what lands here is seen
constexpr wchar_t kOutputFile[] = L"C:\\qxtest\\stress-output.txt";
constexpr wchar_t kDiscFolder[] = L"C:\\qxtest\\stress-disc\\";
constexpr DWORD kRunTimeoutMs = 30000;

std::string Join(const std::vector<std::wstring>& lines) {
    std::string out;
    for (const auto& l : lines) out += "\n  " + Narrow(l);
    return out;
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

// Deterministic filler of quotes, backslashes, blanks, control characters,
// percent signs and letters, without NUL and without any switch.
std::wstring Junk(size_t length, unsigned seed) {
    static const wchar_t kAlphabet[] = L"\"\"\\ \t\x01\x02\x07\x08\x0b\x0c\x1b\x1f\x7f%s%n%x=abcXYZ09\x00e9";
    const size_t n = wcslen(kAlphabet);
    std::wstring s;
    unsigned x = seed * 2654435761u + 1;
    while (s.size() < length) {
        x = x * 1103515245u + 12345u;
        s.push_back(kAlphabet[(x >> 16) % n]);
    }
    return s;
}

class StressHostileInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EXPECT_TRUE(ResetKnownState());
        SHCreateDirectoryExW(nullptr, kCurrentFolder, nullptr);
        watch_ = new PrefixWatch({L"C:\\qxtest"});
    }
    static void TearDownTestSuite() {
        delete watch_;
        watch_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(ResetKnownState());
        SHCreateDirectoryExW(nullptr, kCurrentFolder, nullptr);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = L"C:\\qxtest\\" + Widen(info->test_suite_name()) + L"." + Widen(info->name()) + L"\\";
    }
    // Forgets what the last case left in the records the tests read.
    void FreshCase(const std::wstring& folder) {
        ASSERT_TRUE(ResetProductState());
        for (const wchar_t* f : {L"pad-record.txt", L"actions-record.txt", L"report-record.txt"})
            DeleteFileW((folder + f).c_str());
    }

    // Runs a launcher with the whole command line given, answering what it
    // shows; fails the test when it crashes, does not end, or changes the
    // prefix beyond what allowed covers.
    Outcome Run(const std::wstring& folder, const std::wstring& commandLine, Allowance allowed = ProductAllowance(),
                std::map<std::wstring, std::wstring> environment = {}) {
        watch_->Rebase();
        StartOptions options;
        options.commandLine = commandLine;
        options.currentFolder = kCurrentFolder;
        options.environment = std::move(environment);
        options.outputFile = kOutputFile;
        Process child = Process::Start(folder + L"QXVSetup64.exe", options);
        if (!child.Started()) {
            // Seen once under load: the system refused the start itself.
            std::printf("note: start failed with error %lu, trying once more\n", child.StartError());
            Sleep(500);
            child = Process::Start(folder + L"QXVSetup64.exe", options);
        }
        Outcome outcome;
        EXPECT_TRUE(child.Started()) << "could not start the launcher: error " << child.StartError();
        if (!child.Started()) return outcome;
        outcome = WaitForEnd(child, kRunTimeoutMs, kOutputFile);
        EXPECT_TRUE(outcome.ended) << "the launcher did not end";
        EXPECT_FALSE(outcome.crashed) << "exit code " << std::hex << outcome.exitCode << "\n" << outcome.crashText;
        const auto changes = watch_->Changes(allowed);
        EXPECT_TRUE(changes.empty()) << "changed outside the product's own folders and records:" << Join(changes);
        EXPECT_TRUE(FilesIn(kCurrentFolder).empty()) << "wrote into its current folder";
        return outcome;
    }

    std::wstring Launcher(const std::wstring& folder) const { return folder + L"QXVSetup64.exe"; }
    void ExpectTempFolderRefused(const std::wstring& temp);

    // The Pad double records its start after the launcher has ended; once
    // no Pad of the folder runs, its record is complete.
    std::vector<std::wstring> PadStarts(const std::wstring& folder) {
        EXPECT_TRUE(WaitUntilNoneRuns(folder + L"Setup.exe")) << "the Pad double did not end";
        return RecordLines(folder + L"pad-record.txt");
    }

    static PrefixWatch* watch_;
    std::wstring folder_;
};

PrefixWatch* StressHostileInput::watch_ = nullptr;

TEST_F(StressHostileInput, PrefixWatchSeesWhatIsOutsideTheProduct) {
    // The check every other case relies on: it must see a stray file, key
    // and value, and only the product's own entries pass.
    const std::wstring strayFolder = L"C:\\users\\Public\\qxstress-stray\\";
    const std::wstring strayKey = L"SOFTWARE\\Classes\\qxstress-stray";
    watch_->Rebase();
    SHCreateDirectoryExW(nullptr, strayFolder.c_str(), nullptr);
    HANDLE f = CreateFileW((strayFolder + L"x.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(f);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, strayKey, L"v", 1));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kRunOnceKey, L"qxstress-stray", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\qxstress-stray", L"v", 1));
    SHCreateDirectoryExW(nullptr, CacheFolder().c_str(), nullptr);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kSourceRecordKey, L"SourcePath", 1));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, 1));
    auto changes = watch_->Changes(ProductAllowance());
    const std::string all = Join(changes);
    EXPECT_NE(all.find("qxstress-stray\\x.txt"), std::string::npos) << all;
    EXPECT_NE(all.find("changed: HKLM\\SOFTWARE\\Classes [changes below: 0]"), std::string::npos) << all;
    EXPECT_NE(all.find("RunOnce|qxstress-stray"), std::string::npos) << all;
    EXPECT_NE(all.find("HKCU\\Software\\qxstress-stray"), std::string::npos) << all;
    EXPECT_EQ(all.find("Selkirk-Vane"), std::string::npos) << "the product's own entries pass: " << all;
    EXPECT_EQ(all.find("QX Prism P4000 Install"), std::string::npos) << all;

    RemoveTree(strayFolder);
    DeleteKey(HKEY_LOCAL_MACHINE, strayKey);
    DeleteKey(HKEY_CURRENT_USER, L"Software\\qxstress-stray");
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
    RegDeleteValueW(k, L"qxstress-stray");
    RegCloseKey(k);
    changes = watch_->Changes(ProductAllowance());
    EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                            [](const std::wstring& c) { return c.rfind(L"deleted: ", 0) == 0; }),
              5)
        << "folder, file, key and two values are gone:" << Join(changes);
    EXPECT_NE(Join(changes).find("changed: HKLM\\SOFTWARE\\Classes [changes below: 1]"), std::string::npos)
        << Join(changes);
}

TEST_F(StressHostileInput, ArgumentTails) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    const std::wstring exe = Launcher(folder);
    // The module's tail starts with the package the launcher handed on.
    const std::wstring handed = ModuleTail(folder, L"") + L" ";
    const std::wstring prefix = L"calling DoInstallActions: " + handed;
    struct Case {
        const char* name;
        std::wstring commandLine;
        bool installs;             // false: forwarded to the Pad
        std::wstring tail;         // what reaches the install-actions module
        bool compareTail = true;   // false when the record's own text form cannot hold it
        std::string logged = {};   // the bytes of the "calling" record's text; empty: no such record
    };
    const std::wstring longJunk = Junk(32000, 7);
    const std::wstring bareTail(255 - prefix.size(), L'q');
    std::wstring controls;
    for (wchar_t c = 1; c < 32; ++c) controls.push_back(c);
    controls += L"\x7f";
    // As the file shows them: each line feed stored as CRLF, a carriage
    // return as it is.
    const std::string controlBytes =
        "\x01\x02\x03\x04\x05\x06\x07\x08\x09\r\n\x0b\x0c\r\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a"
        "\x1b\x1c\x1d\x1e\x1f\x7f";
    const std::string callingText = Narrow(prefix);
    const std::vector<Case> cases = {
        {"empty", Quoted(exe), false, L""},
        {"only blanks and control characters", Quoted(exe) + L" \t\x01\x1f  ", false, L""},
        {"unclosed quote swallows the switch", L"\"" + exe + L" CALLER=SETUP", false, L""},
        {"switch glued to the program name", Quoted(exe) + L"CALLER=SETUP", false, L""},
        {"32,000 characters, no switch", Quoted(exe) + L" " + longJunk, false, L""},
        {"leading control characters are skipped", Quoted(exe) + L"\x01\x02\x1f CALLER=SETUP \"open", true,
         L"CALLER=SETUP \"open", true, callingText + "CALLER=SETUP \"open"},
        {"quote before the switch", Quoted(exe) + L" \"CALLER=SETUP", true, L"\"CALLER=SETUP", true,
         callingText + "\"CALLER=SETUP"},
        {"every control character", Quoted(exe) + L" a" + controls + L"CALLER=COINSTALLER\"\"\"", true,
         L"a" + controls + L"CALLER=COINSTALLER\"\"\"", true,
         callingText + "a" + controlBytes + "CALLER=COINSTALLER\"\"\""},
        {"32,000 characters ending in the switch", Quoted(exe) + L" " + longJunk + L"CALLER=SETUP", true,
         longJunk + L"CALLER=SETUP"},
        {"log text of exactly 255 characters", Quoted(exe) + L" CALLER=SETUP" + bareTail.substr(12), true,
         L"CALLER=SETUP" + bareTail.substr(12), true, callingText + "CALLER=SETUP" + std::string(bareTail.size() - 12, 'q')},
        {"log text of 256 characters", Quoted(exe) + L" CALLER=SETUP" + bareTail.substr(11), true,
         L"CALLER=SETUP" + bareTail.substr(11)},
        {"characters beyond 8 bits", Quoted(exe) + L" CALLER=SETUP \x00e9 \x20ac \x00ff", true,
         L"CALLER=SETUP \x00e9 \x20ac \x00ff", true, callingText + "CALLER=SETUP \xe9 ? \xff"},
        {"lone surrogates", Quoted(exe) + L" CALLER=SETUP \xd800 \xdfff", true, L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshCase(folder);
        const Outcome outcome = Run(folder, c.commandLine);
        EXPECT_TRUE(outcome.messages.empty()) << Narrow(outcome.messages.empty() ? L"" : outcome.messages[0]);
        const std::wstring calls = ReadUtf8(folder + L"actions-record.txt");
        if (!c.installs) {
            EXPECT_TRUE(calls.empty()) << "no installation";
            auto starts = PadStarts(folder);
            ASSERT_EQ(starts.size(), 1u) << "forwarded to the Pad once";
            EXPECT_EQ(starts[0], Quoted(folder + L"Setup.exe")) << "the Pad gets its own path alone";
            continue;
        }
        EXPECT_EQ(Occurrences(calls, L"|held="), 1u) << "one installation";
        if (c.compareTail) {
            EXPECT_EQ(calls.rfind(L"tail=" + handed + c.tail + L"|log=", 0), 0u)
                << "the tail reaches the module unchanged";
        }
        bool wellFormed = false;
        const auto records = AllLogRecords(&wellFormed);
        EXPECT_TRUE(wellFormed);
        size_t calling = 0;
        for (const auto& r : records) calling += r.text.rfind(Narrow(prefix), 0) == 0;
        if (!c.logged.empty()) {
            // The record holds the text whole, each character up to U+00FF
            // as that byte.
            EXPECT_EQ(calling, 1u);
            EXPECT_EQ(CountText(records, c.logged), 1u) << "logged whole";
        } else if (c.compareTail) {
            EXPECT_EQ(calling, 0u) << "a text of more than 255 characters leaves no record, not a cut one";
        }
    }
}

TEST_F(StressHostileInput, LogLevelOfEveryTypeAndSize) {
    // No Pad in the folder: the start is forwarded all the same, and the log
    // tells the level.
    const std::wstring folder = MakeLauncherFolder(folder_, kStandard & ~kWithRecordingPad);
    const DWORD types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                           REG_LINK, REG_MULTI_SZ, REG_RESOURCE_LIST, REG_FULL_RESOURCE_DESCRIPTOR,
                           REG_RESOURCE_REQUIREMENTS_LIST, REG_QWORD};
    for (const DWORD type : types) {
        // The first byte alternates between a level without TRACE (0x02) and
        // one with it (0x12), so that a value read and the default of 126
        // are told apart on every other type.
        const bool firstHasTrace = (type % 2) == 0;
        const BYTE first = firstHasTrace ? 0x12 : 0x02;
        const BYTE data[8] = {first, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10};
        // Whether a run traces, by the value's size in bytes: not with no
        // bytes (a level of 0); as the first byte says with one to four (the
        // later bytes only set bits above every type); more than four are
        // not read at all, and the default traces.
        const bool traces[9] = {false, firstHasTrace, firstHasTrace, firstHasTrace, firstHasTrace,
                                true,  true,          true,          true};
        for (DWORD size = 0; size <= 8; ++size) {
            SCOPED_TRACE("type " + std::to_string(type) + ", " + std::to_string(size) + " bytes");
            FreshCase(folder);
            ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kLogLevelKey, L"LogLevel", type, data, size));
            Run(folder, Quoted(Launcher(folder)));
            bool wellFormed = false;
            const auto records = AllLogRecords(&wellFormed);
            EXPECT_TRUE(wellFormed);
            if (traces[size]) {
                ASSERT_FALSE(records.empty()) << "TRACE records expected";
                EXPECT_EQ(records[0].text, "Inside QXVSetup.exe");
                EXPECT_EQ(records.back().text, "Pad : " + Narrow(folder) + "Setup.exe") << "forwarded to the Pad";
            } else {
                EXPECT_TRUE(records.empty()) << "no TRACE record expected";
            }
        }
    }
}

TEST_F(StressHostileInput, SourcePathRecords) {
    // No package beside the launcher: the recorded source folder is where the
    // disc prompt looks first.
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario & ~kWithPackage);
    WriteActionsScript(folder, "result=0\n");
    RemoveTree(kDiscFolder);
    SHCreateDirectoryExW(nullptr, kDiscFolder, nullptr);
    ASSERT_TRUE(CopyInto(FixturesDir() + L"QXPRP4005.msi", kDiscFolder));

    auto bytesOf = [](const std::wstring& text) {
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    };
    const std::wstring disc = kDiscFolder;
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
        bool installs;        // the package is found through the record, no prompt
        std::wstring shown;   // else: the path the prompt offers
    };
    const std::wstring longPath = L"C:\\" + std::wstring(256, L'a');   // 259 characters
    const std::vector<Case> cases = {
        {"odd size, the last half character dropped", REG_SZ, bytesOf(disc) + "x", true, L""},
        {"odd size cutting the text", REG_SZ, bytesOf(disc).substr(0, 7), false, L"C:\\"},
        {"no terminator, 259 characters", REG_SZ, bytesOf(longPath), false, longPath},
        {"520 bytes with the folder and zeros", REG_SZ, bytesOf(disc) + std::string(520 - 2 * disc.size(), '\0'),
         true, L""},
        {"520 bytes without any zero", REG_SZ, bytesOf(std::wstring(260, L'b')), false, L""},
        {"522 bytes", REG_SZ, bytesOf(disc) + std::string(522 - 2 * disc.size(), '\0'), false, L""},
        {"empty", REG_SZ, "", false, L""},
        {"format characters", REG_SZ, bytesOf(L"%s%s%n%x%%\\"), false, L"%s%s%n%x%%\\"},
        {"binary holding the folder", REG_BINARY, bytesOf(disc), true, L""},
        {"multi-string, the first one counts", REG_MULTI_SZ, bytesOf(disc + L'\0' + L"C:\\other\\" + L'\0' + L'\0'),
         true, L""},
        {"a number", REG_DWORD, std::string("A\0B\0", 4), false, L"AB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshCase(folder);
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSourceRecordKey, L"SourcePath", c.type, c.data.data(),
                             static_cast<DWORD>(c.data.size())));
        const Outcome outcome = Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP");
        const auto calls = RecordLines(folder + L"actions-record.txt");
        if (c.installs) {
            EXPECT_TRUE(outcome.discPrompts.empty()) << "found through the record";
            EXPECT_EQ(calls.size(), 1u) << "the installation ran";
        } else {
            ASSERT_EQ(outcome.discPrompts.size(), 1u) << "asked for the disc once";
            EXPECT_EQ(outcome.discPrompts[0], c.shown) << "offered where the record points";
            EXPECT_TRUE(calls.empty()) << "cancelled: no installation";
            EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_INSTALL_USEREXIT)) << "a cancel";
            EXPECT_EQ(Occurrences(ReadUtf8(folder + L"report-record.txt"), L"message="), 0u) << "nothing to report";
        }
    }
    RemoveTree(kDiscFolder);
}

TEST_F(StressHostileInput, PackageTexts) {
    const wchar_t* variants[] = {L"Missing", L"Dot",   L"DotDot",   L"UpTwo",
                                 L"Slash",   L"Colon", L"Absolute", L"Long255"};
    const std::wstring packages = BuildDir() + L"tests\\stress\\packages\\";
    for (const wchar_t* property : {L"Manufacturer", L"ProductName"}) {
        for (const wchar_t* variant : variants) {
            const std::wstring name = std::wstring(property) + L"-" + variant + L".msi";
            SCOPED_TRACE(Narrow(name));
            const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario & ~kWithPackage);
            ASSERT_TRUE(CopyInto(packages + name, folder, L"QXPRP4005.msi"));
            WriteActionsScript(folder, "result=0\n");
            FreshCase(folder);
            const Outcome outcome = Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP");
            EXPECT_TRUE(outcome.messages.empty());
            EXPECT_TRUE(outcome.discPrompts.empty());
            // The texts only name the cache folder: the installation itself
            // goes on without a cache.
            EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "the installation ran";
            bool wellFormed = false;
            const auto records = AllLogRecords(&wellFormed);
            EXPECT_TRUE(wellFormed);
            size_t notUsed = 0;
            for (const auto& r : records)
                notUsed += r.type == "ERROR" && r.text.rfind("Install source cache not used: ", 0) == 0;
            EXPECT_EQ(notUsed, 1u) << "the refusal of the cache is logged";
            EXPECT_FALSE(FileExists(folder + L"report-record.txt")) << "no error to report";
        }
    }
}

// The product code names the source record's key: only the product's own
// record may be written, and never the key that blocks every later start.
TEST_F(StressHostileInput, ProductCodeNamesNoKeyButTheProductsRecord) {
    const std::wstring packages = BuildDir() + L"tests\\stress\\packages\\";
    for (const wchar_t* variant : {L"Missing", L"PendingReboot", L"UpThree"}) {
        const std::wstring name = std::wstring(L"ProductCode-") + variant + L".msi";
        SCOPED_TRACE(Narrow(name));
        const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario & ~kWithPackage);
        ASSERT_TRUE(CopyInto(packages + name, folder, L"QXPRP4005.msi"));
        WriteActionsScript(folder, "result=0\n");
        FreshCase(folder);
        Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP");
        EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "the installation ran";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPendingRebootKey)) << "later starts would all be refused";
        DeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Selkirk-Vane\\Installed Products");
    }
}

// Links and foreign folders: what a less-privileged program can prepare in
// the folders the elevated launcher writes to. Nothing outside the
// product's own folders may change, whatever the launcher finds there, and
// the installation goes on.
class StressLinks : public StressHostileInput {
protected:
    static constexpr wchar_t kVictim[] = L"C:\\qxstress-victim\\";

    void SetUp() override {
        StressHostileInput::SetUp();
        SHCreateDirectoryExW(nullptr, (std::wstring(kVictim) + L"inner").c_str(), nullptr);
        PutFile(std::wstring(kVictim) + L"victim.dll", "victim");
        PutFile(std::wstring(kVictim) + L"inner\\keep.txt", "keep");
    }
    void Link(const std::wstring& at, const std::wstring& target) {
        ASSERT_TRUE(MakeLink(at, target)) << Narrow(at);
    }
    static void ExpectVictimUntouched() {
        EXPECT_EQ(ReadBytes(std::wstring(kVictim) + L"victim.dll"), "victim");
        EXPECT_EQ(ReadBytes(std::wstring(kVictim) + L"inner\\keep.txt"), "keep");
        std::vector<std::wstring> names = FilesIn(kVictim);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::wstring>{L"inner", L"victim.dll"})) << "nothing added or removed";
    }
    // Runs an installation with the scripted module returning result.
    Outcome Install(const std::string& script) {
        const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
        WriteActionsScript(folder, script);
        for (const wchar_t* f : {L"actions-record.txt", L"report-record.txt"}) DeleteFileW((folder + f).c_str());
        ClearLogs();
        const Outcome outcome = Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP");
        EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "the installation ran";
        return outcome;
    }
    static size_t Errors(const std::string& prefix) {
        bool wellFormed = false;
        size_t n = 0;
        for (const auto& r : AllLogRecords(&wellFormed)) n += r.type == "ERROR" && r.text.rfind(prefix, 0) == 0;
        return n;
    }
};

TEST_F(StressLinks, ALinkAtAnyLevelOfTheCachePath) {
    // The machine-wide cache and the per-user folder earlier versions used.
    for (int csidl : {CSIDL_COMMON_APPDATA, CSIDL_APPDATA}) {
        for (int level = 0; level < 2; ++level) {
            const std::wstring maker = ShellFolder(csidl) + L"\\Selkirk-Vane";
            SCOPED_TRACE(Narrow(maker) + (level ? " product level" : " manufacturer level"));
            FreshCase(folder_);
            RemoveTreeNoFollow(maker);
            if (level == 0) {
                Link(maker, kVictim);
            } else {
                SHCreateDirectoryExW(nullptr, maker.c_str(), nullptr);
                Link(maker + L"\\QX Prism P4000 Series", kVictim);
            }
            Install("result=0\n");
            ExpectVictimUntouched();
            if (csidl == CSIDL_COMMON_APPDATA) {
                EXPECT_EQ(Errors("Install source cache not used: "), 1u);
            }
            RemoveTreeNoFollow(maker);
        }
    }
}

TEST_F(StressLinks, LinksInsideAKeptCacheBeforeARunThatCopiesAndEmpties) {
    // A first run whose restart is under way keeps the cache.
    Install("result=1641\n");
    ASSERT_TRUE(FileExists(CacheFolder() + L"QXVSetup64.exe"));
    // Then someone puts links into it: under a module's name the copy
    // replaces, and as a folder the copy would fill and the deletion enter.
    Link(CacheFolder() + L"CustomActionData64.dll.qxnew", std::wstring(kVictim) + L"victim.dll");
    RemoveTreeNoFollow(CacheFolder() + L"QXVSetupRES64.dll");
    Link(CacheFolder() + L"QXVSetupRES64.dll", std::wstring(kVictim) + L"victim.dll");
    Link(CacheFolder() + L"evil.dll", kVictim);
    Link(CacheFolder() + L"dangling.dll", std::wstring(kVictim) + L"created.dll");
    Install("result=0\n");
    ExpectVictimUntouched();
    std::vector<std::wstring> left = FilesIn(CacheFolder());
    for (const std::wstring& name : left)
        EXPECT_TRUE(name == L"evil.dll" || name == L"QXVSetupRES64.dll" || name == L"dangling.dll" ||
                    name == L"CustomActionData64.dll.qxnew")
            << "only links the system could not remove as entries may stay: " << Narrow(name);
}

TEST_F(StressLinks, ALinkAtTheLogFolder) {
    const std::wstring logFolder = LogFolder();
    RemoveTreeNoFollow(logFolder);
    Link(logFolder, kVictim);
    Install("result=0\n");
    ExpectVictimUntouched();
    RemoveTreeNoFollow(logFolder);
}

TEST_F(StressLinks, TextsNamingAnotherVendorsFolder) {
    const std::wstring theirs[] = {ShellFolder(CSIDL_COMMON_APPDATA) + L"\\qxstress-other-vendor\\Its Product\\",
                                   ShellFolder(CSIDL_APPDATA) + L"\\qxstress-other-vendor\\Its Product\\"};
    for (const std::wstring& f : theirs) {
        SHCreateDirectoryExW(nullptr, f.c_str(), nullptr);
        PutFile(f + L"their.dll", "theirs");
    }
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario & ~kWithPackage);
    ASSERT_TRUE(CopyInto(BuildDir() + L"tests\\stress\\packages\\OtherProduct.msi", folder, L"QXPRP4005.msi"));
    WriteActionsScript(folder, "result=0\n");
    FreshCase(folder);
    Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP");
    EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u) << "the installation ran";
    for (const std::wstring& f : theirs) {
        EXPECT_EQ(ReadBytes(f + L"their.dll"), "theirs") << Narrow(f);
        EXPECT_EQ(FilesIn(f).size(), 1u) << "nothing copied in";
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\qxstress-other-vendor")) << "no record of theirs";
    EXPECT_EQ(Errors("Install source cache not used: manufacturer is not the product's own"), 1u);
    for (const std::wstring& f : theirs) RemoveTreeNoFollow(f.substr(0, f.size() - 12));
}

TEST_F(StressHostileInput, CompanionModules) {
    const std::wstring garbage = folder_ + L"garbage.bin";
    const std::wstring truncated = folder_ + L"truncated.bin";
    RemoveTree(folder_);
    SHCreateDirectoryExW(nullptr, folder_.c_str(), nullptr);
    {
        std::string bytes(8192, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 251);
        HANDLE h = CreateFileW(garbage.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        CloseHandle(h);
        // Valid headers, nothing behind them.
        const std::string module = ReadBytes(ProductDir() + L"QXVSetupRES64.dll");
        ASSERT_GT(module.size(), 1024u);
        h = CreateFileW(truncated.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        WriteFile(h, module.data(), 1024, &n, nullptr);
        CloseHandle(h);
    }
    enum class Damage { Absent, Garbage, Truncated };
    const std::pair<Damage, const char*> damages[] = {
        {Damage::Absent, "absent"}, {Damage::Garbage, "garbage"}, {Damage::Truncated, "truncated"}};
    auto place = [&](const std::wstring& folder, const wchar_t* module, Damage damage) {
        DeleteFileW((folder + module).c_str());
        if (damage == Damage::Garbage) {
            ASSERT_TRUE(CopyInto(garbage, folder, module));
        } else if (damage == Damage::Truncated) {
            ASSERT_TRUE(CopyInto(truncated, folder, module));
        }
    };

    for (const auto& [damage, how] : damages) {
        SCOPED_TRACE(std::string("resource module ") + how);
        const std::wstring folder = MakeLauncherFolder(folder_ + L"res\\", kInstallScenario);
        place(folder, L"QXVSetupRES64.dll", damage);
        {
            SCOPED_TRACE("pending reboot");
            FreshCase(folder);
            ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"Marker", 1));
            const Outcome outcome = Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP");
            ASSERT_EQ(outcome.messages.size(), 1u) << "the pending reboot is still told";
            std::wstring text = outcome.messages[0];
            CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
            EXPECT_NE(text.find(L"restart"), std::wstring::npos) << "in words: " << Narrow(outcome.messages[0]);
        }
        {
            SCOPED_TRACE("error whose message lives in the resource module");
            FreshCase(folder);
            WriteActionsScript(folder, "result=-2146496512\n");
            const Outcome outcome = Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP");
            EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u);
            const auto reports = RecordLines(folder + L"report-record.txt");
            ASSERT_EQ(reports.size(), 1u) << "still reported";
            EXPECT_EQ(RecordField(reports[0], L"message"), L"") << "with no text to give";
        }
    }

    for (const auto& [damage, how] : damages) {
        SCOPED_TRACE(std::string("error module ") + how);
        const std::wstring folder = MakeLauncherFolder(folder_ + L"err\\", kInstallScenario & ~kWithRecordingReporter);
        place(folder, L"QXPRP4005P64.dll", damage);
        FreshCase(folder);
        WriteActionsScript(folder, "result=1603\n");
        const Outcome outcome = Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP");
        // A development launcher (this one, beside the doubles) checks
        // nothing: a damaged module fails to load, and is said to. (A signed
        // launcher refuses it in its own box as not its release's:
        // IntegrityTest.)
        EXPECT_TRUE(outcome.messages.empty());
        EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u);
        bool wellFormed = false;
        const auto records = AllLogRecords(&wellFormed);
        EXPECT_TRUE(wellFormed);
        EXPECT_EQ(CountText(records, "Could not load error reproting module"), 1u);
        EXPECT_EQ(CountText(records, "Deleting install source cache"), 1u) << "the failure still empties the cache";
        EXPECT_TRUE(FilesIn(CacheFolder()).empty());
    }
}

// Every kind of unusable temporary folder gives the same outcome: the
// launcher still forwards to the Pad and still reports a package it cannot
// read, writes no log anywhere, and leaves the folder as it was.
void StressHostileInput::ExpectTempFolderRefused(const std::wstring& temp) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    const Allowance allowed = ProductAllowance(temp);
    const std::map<std::wstring, std::wstring> environment = {{L"TMP", temp}, {L"TEMP", temp}};
    {
        SCOPED_TRACE("forwarded to the Pad");
        FreshCase(folder);
        Run(folder, Quoted(Launcher(folder)), allowed, environment);
        EXPECT_EQ(PadStarts(folder).size(), 1u) << "started without a log";
    }
    {
        SCOPED_TRACE("an installation");
        FreshCase(folder);
        const Outcome outcome = Run(folder, Quoted(Launcher(folder)) + L" CALLER=SETUP", allowed, environment);
        EXPECT_TRUE(outcome.messages.empty());
        // The installer needs the temporary folder to open the package:
        // the product's information cannot be read, which is reported.
        EXPECT_TRUE(RecordLines(folder + L"actions-record.txt").empty()) << "no installation";
        const std::wstring reports = ReadUtf8(folder + L"report-record.txt");
        EXPECT_EQ(Occurrences(reports, L"message="), 1u) << "reported once";
    }
    EXPECT_TRUE(LogFiles().empty()) << "no log in the usual place either";
}

TEST_F(StressHostileInput, TempFolderThatCannotBeWritten) {
    const std::wstring missing = L"C:\\qxstress-no-temp\\missing\\";
    const std::wstring file = L"C:\\qxstress-temp-file";
    {
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        WriteFile(h, "not a folder", 12, &n, nullptr);
        CloseHandle(h);
    }
    {
        SCOPED_TRACE("a folder that does not exist");
        ExpectTempFolderRefused(missing);
        EXPECT_EQ(GetFileAttributesW(L"C:\\qxstress-no-temp"), INVALID_FILE_ATTRIBUTES);
    }
    {
        SCOPED_TRACE("a file, not a folder");
        ExpectTempFolderRefused(file);
        EXPECT_EQ(ReadBytes(file), "not a folder");
    }
    DeleteFileW(file.c_str());
}

TEST_F(StressHostileInput, TempFolderThatNotEvenThisDriverCanWrite) {
    wchar_t readOnly[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"QX_STRESS_READONLY_DIR", readOnly, MAX_PATH))
        GTEST_SKIP() << "no read-only folder was made for this run";
    // Only meaningful when even this driver, running as root, cannot write there.
    const std::wstring probe = std::wstring(readOnly) + L"\\probe.txt";
    qx::UniqueHandle probeFile(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    if (probeFile) {
        probeFile.reset();
        DeleteFileW(probe.c_str());
        GTEST_SKIP() << Narrow(readOnly) << " can be written here: its file system lets this user write anywhere";
    }
    const std::wstring temp = std::wstring(readOnly) + L"\\";
    ExpectTempFolderRefused(temp);
    EXPECT_TRUE(FilesIn(temp).empty());
}

// A temporary folder path too long for the system must not send the log to
// the root of the current drive.
TEST_F(StressHostileInput, TempPathTooLongLeavesNoLogAtTheDriveRoot) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    WriteActionsScript(folder, "result=0\n");
    const std::wstring temp = L"C:\\qxstress-long-temp\\" + std::wstring(280, L'a') + L"\\";
    const std::map<std::wstring, std::wstring> environment = {{L"TMP", temp}, {L"TEMP", temp}};
    for (const wchar_t* args : {L"", L" CALLER=SETUP"}) {
        SCOPED_TRACE(Narrow(args));
        FreshCase(folder);
        Run(folder, Quoted(Launcher(folder)) + args, ProductAllowance(temp), environment);
        EXPECT_EQ(GetFileAttributesW((std::wstring(L"C:\\") + kProductGuid).c_str()), INVALID_FILE_ATTRIBUTES);
        RemoveTree(std::wstring(L"C:\\") + kProductGuid + L"\\");
    }
}

}  // namespace
}  // namespace qxtest
