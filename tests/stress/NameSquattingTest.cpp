// Another program makes one of the launcher's object names first and holds
// it, or keeps taking its signal: the real launcher still installs the
// shipped package and ends. The UI event and the worker mutex are then
// replaced by unnamed ones, which the log says; a held logging mutex costs
// the installation no more than its normal time again.
#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

#include "diag/Logger.h"
#include "framework/Ownership.h"
#include "tests/support/Harness.h"

namespace qxtest {
namespace {

constexpr wchar_t kRoot[] = L"C:\\qxtest\\StressSquatting\\";
constexpr char kUiEventFallback[] = "UI event name already in use by another program; using an unnamed event";
constexpr char kWorkerMutexFallback[] = "Worker mutex name already in use by another program; using an unnamed mutex";
// Far beyond any installation here; only a hang reaches it.
constexpr DWORD kHangBoundMs = 180000;

std::wstring StressProgram(const wchar_t* name) { return BuildDir() + L"tests\\stress\\" + name; }

// Starts a helper ("args READY MS") that makes its object first, and waits
// until it has. READY is a name of this start's own: a squatter of an
// earlier case that is still going away holds its own ready event open, set.
Process StartSquatter(const std::wstring& program, const std::wstring& args) {
    static unsigned starts = 0;
    const std::wstring readyName = L"Local\\qxstress-squatter-ready-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(++starts);
    const qx::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    StartOptions options;
    options.commandLine = L"\"" + program + L"\" " + args + L" " + readyName + L" 600000";
    Process squatter = Process::Start(program, options);
    EXPECT_TRUE(squatter.Started());
    EXPECT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0) << "the squatter did not make its object";
    return squatter;
}

class StressSquatting : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ResetKnownState());
        folder_ = MakeShippedFolder(std::wstring(kRoot) + L"shipped\\");
    }
    // One installation from a clean state; its duration in ms.
    ULONGLONG Install(const char* what) {
        SCOPED_TRACE(what);
        UninstallProduct();
        ClearLogs();
        const ULONGLONG start = GetTickCount64();
        StartOptions options;
        options.commandLine = L"\"" + folder_ + L"QXVSetup64.exe\" CALLER=SETUP";
        options.outputFile = std::wstring(kRoot) + L"output.txt";
        Process launcher = Process::Start(folder_ + L"QXVSetup64.exe", options);
        EXPECT_TRUE(launcher.Started());
        const Outcome outcome = WaitForEnd(launcher, kHangBoundMs, std::wstring(kRoot) + L"output.txt");
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_TRUE(outcome.ended) << "the launcher hangs";
        EXPECT_FALSE(outcome.crashed) << outcome.crashText;
        EXPECT_TRUE(ProductInstalled());
        return took;
    }

    std::vector<LogRecord> Records() {
        bool wellFormed = false;
        auto records = AllLogRecords(&wellFormed);
        EXPECT_TRUE(wellFormed);
        return records;
    }

    std::wstring folder_;
};

// The squatter makes its object (kind "event" or "mutex") under name; the
// installation still runs to its end, and only the fallback for that name
// is logged.
void ExpectFallbackFor(const wchar_t* kind, const wchar_t* name, const char* fallback, const char* other,
                       const std::function<ULONGLONG(const char*)>& install) {
    Process squatter = StartSquatter(StressProgram(L"stress_squatter.exe"), std::wstring(kind) + L" " + name);
    install(fallback);
    bool wellFormed = false;
    const auto records = AllLogRecords(&wellFormed);
    EXPECT_TRUE(wellFormed);
    EXPECT_EQ(CountText(records, fallback), 1u);
    EXPECT_EQ(CountText(records, other), 0u);
    EXPECT_EQ(CountText(records, "Lock removed from UI MUTEX"), 1u) << "the dialog saw the module let go";
    EXPECT_EQ(CountText(records, "Exiting MsiThreadproc"), 1u);
    EXPECT_EQ(CountText(records, "Exiting QXVSetup.exe"), 1u);
    EXPECT_FALSE(squatter.Ended()) << "the squatter was there all along";
}

TEST_F(StressSquatting, UiEventMadeAndDrainedByAnotherProgram) {
    ExpectFallbackFor(L"event", kUiEventName, kUiEventFallback, kWorkerMutexFallback,
                      [this](const char* what) { return Install(what); });
}

TEST_F(StressSquatting, WorkerMutexMadeAndHeldByAnotherProgram) {
    ExpectFallbackFor(L"mutex", kWorkerMutexName, kWorkerMutexFallback, kUiEventFallback,
                      [this](const char* what) { return Install(what); });
}

TEST_F(StressSquatting, LoggingMutexHeldByAnotherProgramCostsOneWaitNotOneARecord) {
    const ULONGLONG normal = Install("nobody holds the logging mutex");
    const size_t normalRecords = Records().size();
    ASSERT_GT(normalRecords, 10u);

    Process holder = StartSquatter(StressProgram(L"stress_logwriter.exe"), L"hold");
    const ULONGLONG held = Install("another program holds the logging mutex");
    // One wait in all, with room for a slow start; a wait for each of the
    // more than ten records would take ten times as long.
    EXPECT_LE(held, normal + 3 * kLogMutexWaitMs) << "normal " << normal << " ms, with the mutex held " << held
                                                  << " ms";
    // Records are dropped, not waited for: what reaches the file comes from
    // a thread whose wait was cut short by input, so it is a part at most.
    EXPECT_LT(Records().size(), normalRecords);
    EXPECT_FALSE(holder.Ended());
    std::printf("installation: %llu ms; with the logging mutex held: %llu ms\n", normal, held);
}

}  // namespace
}  // namespace qxtest
