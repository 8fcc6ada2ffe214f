// The installation log as the launcher writes it: file name, record bytes,
// the level from the registry, and how writers take turns.
#include <regex>

#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

class LogFileTest : public ScenarioTest {};

TEST_F(LogFileTest, RecordsAreFourCrlfLinesOfEightBitText) {
    const std::wstring folder = MakeLauncherFolder(folder_);
    SYSTEMTIME before;
    GetSystemTime(&before);
    RunToEnd(folder, L"");
    auto files = LogFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::wstring name = files[0].substr(files[0].find_last_of(L'\\') + 1);
    EXPECT_TRUE(std::regex_match(Narrow(name), std::regex("~qx[0-9a-fA-F]{1,4}\\.log"))) << Narrow(name);

    const std::string bytes = ReadBytes(files[0]);
    // Every line feed is part of a CRLF pair, and nothing follows the last one.
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
        }
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

    const std::regex record(
        "________________________________________\r\n"
        "LOG TYPE: TRACE\r\n"
        "TIME: ([1-9]|1[0-2])-([1-9]|[12][0-9]|3[01])-([0-9]{4}) ([0-9]|1[0-9]|2[0-3]):([0-9]|[1-5][0-9]):"
        "([0-9]|[1-5][0-9]):([0-9]|[1-9][0-9]|[1-9][0-9][0-9])\r\n"
        "([^\r\n]*)\r\n");
    std::vector<std::string> texts;
    auto it = std::sregex_iterator(bytes.begin(), bytes.end(), record);
    size_t covered = 0;
    for (; it != std::sregex_iterator(); ++it) {
        ASSERT_EQ(static_cast<size_t>(it->position()), covered) << "records follow each other directly";
        covered += static_cast<size_t>(it->length());
        EXPECT_EQ(std::stoi((*it)[3]), before.wYear);
        texts.push_back((*it)[8]);
    }
    EXPECT_EQ(covered, bytes.size());
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "Inside QXVSetup.exe");
    EXPECT_EQ(texts[3], "Pad : " + Narrow(folder) + "Setup.exe");
}

TEST_F(LogFileTest, EachStartWritesAFileOfItsOwn) {
    const std::wstring folder = MakeLauncherFolder(folder_);
    RunToEnd(folder, L"");
    RunToEnd(folder, L"");
    EXPECT_EQ(LogFiles().size(), 2u);
}

TEST_F(LogFileTest, LevelComesFromTheRegistry) {
    const std::wstring folder = MakeLauncherFolder(folder_);
    struct Case {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;   // empty: no value at all
        bool traces;
    };
    auto dword = [](DWORD v) {
        return std::vector<BYTE>{BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
    };
    const Case cases[] = {
        {"absent", REG_DWORD, {}, true},
        {"zero", REG_DWORD, dword(0), false},
        {"errors only", REG_DWORD, dword(2), false},
        {"traces only", REG_DWORD, dword(16), true},
        {"bits naming no type", REG_DWORD, dword(0x81), false},
        {"eight bytes", REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0}, true},
        {"long string", REG_SZ, {'1', 0, '6', 0, 0, 0}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteKey(HKEY_LOCAL_MACHINE, kLogLevelKey);
        if (!c.data.empty()) {
            ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kLogLevelKey, L"LogLevel", c.type, c.data.data(),
                                 static_cast<DWORD>(c.data.size())));
        }
        ClearLogs();
        RunToEnd(folder, L"");
        auto texts = LogTexts();
        if (c.traces) {
            ASSERT_GE(texts.size(), 2u);
            EXPECT_EQ(texts[0], "Inside QXVSetup.exe");
        } else {
            EXPECT_TRUE(LogFiles().empty()) << "no record, so no file";
        }
    }
}

TEST_F(LogFileTest, RecordIsInTheFileWhenTheLauncherIsKilledRightAfter) {
    const std::wstring folder = MakeLauncherFolder(folder_);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"Marker", 1));
    Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
    ASSERT_NE(WaitForWindow(L"#32770", L"QXVSetup64", 20000), nullptr);
    p.Kill();
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"Inside QXVSetup.exe"});
}

TEST_F(LogFileTest, WriterWaitsAboutASecondInAllWhenAnotherProcessHoldsTheMutex) {
    const std::wstring folder = MakeLauncherFolder(folder_);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\CLogger--LoggingUtility");
    ASSERT_NE(mutex, nullptr);
    DWORD start = GetTickCount();
    RunToEnd(folder, L"");
    DWORD elapsed = GetTickCount() - start;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    EXPECT_TRUE(LogFiles().empty()) << "records that wait too long are dropped";
    // The first record waited its second before it was dropped. What the
    // held mutex costs a run in all is the benchmark's to measure.
    EXPECT_GE(elapsed, 900u);

    // Once the mutex is free again, records are written as usual.
    ClearLogs();
    RunToEnd(folder, L"");
    EXPECT_GE(LogTexts().size(), 2u);
}

}  // namespace
}  // namespace qxtest
