#include <gtest/gtest.h>

#include <share.h>
#include <stdio.h>

#include <string>
#include <thread>

#include "diag/Logger.h"
#include "res/ProductIdentity.h"
#include "tests/support/Log.h"
#include "tests/support/TemporaryLog.h"
#include "tests/support/Waits.h"

namespace {

using qxtest::LogTextsIn;

class LoggerTest : public ::testing::Test {
protected:
    std::string Log() const { return log_.Bytes(); }
    qxtest::TemporaryLog log_{L"unit"};
    const std::wstring path_ = log_.Path();
};

TEST_F(LoggerTest, TraceAndErrorRecordsWithWideArguments) {
    LogTrace(L"Pad : %s", L"C:\\Dir\\Setup.exe");
    LogError(L"===>>> ERROR :\n Code: %d\nMsg: %s", -2146496512, L"text\r\n");
    const std::string bytes = Log();
    EXPECT_EQ(LogTextsIn(bytes, "TRACE"), std::vector<std::string>{"Pad : C:\\Dir\\Setup.exe"});
    EXPECT_EQ(LogTextsIn(bytes, "ERROR"),
              std::vector<std::string>{"===>>> ERROR :\r\n Code: -2146496512\r\nMsg: text\r\r\n"});
    EXPECT_EQ(bytes.find("\n\n"), std::string::npos);
}

TEST_F(LoggerTest, TextOf255CharactersIsKeptAnd256IsDroppedWhole) {
    const std::wstring t255(255, L'a');
    const std::wstring t256(256, L'b');
    LogTrace(L"%s", t255.c_str());
    LogTrace(L"%s", t256.c_str());
    LogTrace(L"%s%s", t255.c_str(), L"c");
    LogTrace(nullptr);
    auto texts = LogTextsIn(Log());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], std::string(255, 'a'));
}

TEST_F(LoggerTest, LevelMaskSelectsTheTypes) {
    struct Case {
        DWORD level;
        size_t traces, errors;
    };
    for (const Case c : {Case{0, 0, 0}, Case{2, 0, 1}, Case{16, 1, 0}, Case{0x81, 0, 0}, Case{0x7E, 1, 1},
                         Case{0xFFFFFFFF, 1, 1}}) {
        SCOPED_TRACE(c.level);
        DeleteFileW(path_.c_str());
        CLogger::Instance().Reset();
        CLogger::Instance().SetLogFile(path_.c_str());
        CLogger::Instance().AddLevel(c.level);
        LogTrace(L"t");
        LogError(L"e");
        const std::string bytes = Log();
        EXPECT_EQ(LogTextsIn(bytes, "TRACE").size(), c.traces);
        EXPECT_EQ(LogTextsIn(bytes, "ERROR").size(), c.errors);
    }
}

TEST_F(LoggerTest, SeveralTypeBitsWriteOneRecordEachInTheFixedOrder) {
    CLogger::Instance().Write(L"multi", LOGTYPE_TRACE | LOGTYPE_ERROR | LOGTYPE_MESSAGE | LOGTYPE_INFORMATION |
                                            LOGTYPE_WARNING | LOGTYPE_EXCEPTION);
    const std::string bytes = Log();
    std::vector<std::string> words;
    for (size_t p = 0; (p = bytes.find("LOG TYPE: ", p)) != std::string::npos; p += 10)
        words.push_back(bytes.substr(p + 10, bytes.find("\r\n", p) - p - 10));
    EXPECT_EQ(words, (std::vector<std::string>{"ERROR", "EXCEPTION", "WARNING", "MESSAGE", "INFORMATION",
                                               "TRACE"}));
}

TEST_F(LoggerTest, NoFileNoRecordAndAPathCutTo255) {
    CLogger::Instance().Reset();
    CLogger::Instance().AddLevel(kDefaultLogLevel);
    LogTrace(L"nowhere");   // no file set: nothing happens
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'p');
    CLogger::Instance().SetLogFile(longPath.c_str());
    EXPECT_EQ(std::wstring(CLogger::Instance().LogFile(LOGTYPE_TRACE)).size(), 255u);
    LogTrace(L"still nothing");   // the cut path's folder does not exist
    EXPECT_TRUE(Log().empty());
}

TEST_F(LoggerTest, FileHeldOpenByAnotherWriterDropsTheRecord) {
    FILE* other = _wfsopen(path_.c_str(), L"a+", _SH_DENYRW);
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(CLogger::Instance().Write(L"dropped", LOGTYPE_TRACE));
    fclose(other);
    EXPECT_TRUE(CLogger::Instance().Write(L"kept", LOGTYPE_TRACE));
    EXPECT_EQ(LogTextsIn(Log()), std::vector<std::string>{"kept"});
}

TEST_F(LoggerTest, HeldMutexBoundsTheWaitAndDropsTheRecord) {
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto holdUntilReleased = [&] {
        HANDLE m = CreateMutexW(nullptr, TRUE, kLogMutexName);
        SetEvent(taken);
        WaitForSingleObject(release, 20000);
        ReleaseMutex(m);
        CloseHandle(m);
    };
    std::thread holder(holdUntilReleased);
    WaitForSingleObject(taken, 5000);
    DWORD start = GetTickCount();
    LogTrace(L"late");
    DWORD elapsed = GetTickCount() - start;
    // Still held: the records after a dropped one only try for the mutex.
    start = GetTickCount();
    for (int i = 0; i < 5; ++i) LogTrace(L"later");
    const DWORD later = GetTickCount() - start;
    SetEvent(release);
    holder.join();
    // The time a record may cost is the benchmark's to measure; here only
    // that the first one waited before it was dropped, and that nothing hung.
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, qxtest::kHangGuardMs);
    EXPECT_LT(later, qxtest::kHangGuardMs);
    EXPECT_TRUE(Log().empty());
    // Free again: the next record is written, and the one after a new hold
    // waits its full second again.
    LogTrace(L"free");
    EXPECT_EQ(LogTextsIn(Log()), std::vector<std::string>{"free"});
    ResetEvent(taken);
    ResetEvent(release);
    std::thread again(holdUntilReleased);
    WaitForSingleObject(taken, 5000);
    start = GetTickCount();
    LogTrace(L"late again");
    elapsed = GetTickCount() - start;
    SetEvent(release);
    again.join();
    EXPECT_GE(elapsed, 900u);
    CloseHandle(taken);
    CloseHandle(release);
}

TEST_F(LoggerTest, AbandonedMutexIsGivenUpNotKept) {
    std::thread dies([] {
        CreateMutexW(nullptr, TRUE, kLogMutexName);   // owned, never released
    });
    dies.join();
    // This wait is handed the abandoned mutex: the record is dropped and the
    // mutex released at once.
    LogTrace(L"after abandon");
    bool freeForOthers = false;
    std::thread other([&] {
        HANDLE m = CreateMutexW(nullptr, FALSE, kLogMutexName);
        DWORD r = WaitForSingleObject(m, 2000);
        freeForOthers = (r == WAIT_OBJECT_0);
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) ReleaseMutex(m);
        CloseHandle(m);
    });
    other.join();
    EXPECT_TRUE(freeForOthers) << "another thread gets the mutex, and not as abandoned";
    LogTrace(L"next");
    EXPECT_EQ(LogTextsIn(Log()), std::vector<std::string>{"next"});
}

TEST_F(LoggerTest, TextsForAPersonAreLoggedWholeInPiecesThatFit) {
    // Lines of a wrapped message: the pieces end at line breaks.
    std::wstring wrapped;
    for (int i = 0; i < 12; ++i) wrapped += std::wstring(50, static_cast<wchar_t>(L'a' + i)) + L"\r\n";
    LogErrorText(wrapped.c_str());
    // One line longer than a record: cut where it must be.
    const std::wstring line(600, L'x');
    LogErrorText(line.c_str());
    LogErrorText(L"");
    LogErrorText(nullptr);

    const auto texts = LogTextsIn(Log(), "ERROR");
    ASSERT_EQ(texts.size(), 3u + 3u);
    std::string joined;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_LE(texts[i].size(), 255u + 12u) << "at most 255 characters, line ends written as CRLF";
        EXPECT_NE(texts[i].substr(texts[i].size() - 2), "\r\n") << "a piece ends at a line's end, not after it";
        joined += texts[i] + "\r\n";
    }
    std::string expected;
    for (int i = 0; i < 12; ++i) expected += std::string(50, static_cast<char>('a' + i)) + "\r\n";
    EXPECT_EQ(joined, expected) << "every line whole, none lost";
    EXPECT_EQ(texts[3], std::string(255, 'x'));
    EXPECT_EQ(texts[4], std::string(255, 'x'));
    EXPECT_EQ(texts[5], std::string(90, 'x'));
}

}  // namespace
