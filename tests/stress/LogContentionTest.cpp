// Writers of one log file fighting over the logging mutex: four processes at
// once leave only whole records, every record is accounted for, and a
// writer killed while it holds the mutex neither blocks the next writer nor
// leaves an owned mutex behind.
#include <shlobj.h>
#include <winternl.h>

#include <cstdio>
#include <regex>
#include <vector>

#include <gtest/gtest.h>

#include "diag/Logger.h"
#include "framework/Ownership.h"
#include "res/ProductIdentity.h"
#include "tests/support/Harness.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

constexpr wchar_t kWorkFolder[] = L"C:\\qxtest\\StressLog\\";

std::wstring Helper() { return BuildDir() + L"tests\\stress\\stress_logwriter.exe"; }

struct WriterResult {
    long written = -1;
    long dropped = -1;
    long asked = -1;
    long firstMs = -1;
    long maxMs = -1;
};

WriterResult ReadResult(const std::wstring& file) {
    WriterResult r;
    std::string text = ReadBytes(file);
    std::sscanf(text.c_str(), "written=%ld dropped=%ld asked=%ld first_ms=%ld max_ms=%ld", &r.written, &r.dropped,
                &r.asked, &r.firstMs, &r.maxMs);
    return r;
}

// A named event the helpers open. The name is this use's own: a helper of
// an earlier case that is still going away may hold its event open, set.
class NamedEvent {
public:
    explicit NamedEvent(const std::wstring& name)
        : name_(L"Local\\qxstress-" + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++uses_)),
          handle_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}
    const std::wstring& Name() const { return name_; }
    bool WaitSet(DWORD ms) const { return WaitForSingleObject(handle_.get(), ms) == WAIT_OBJECT_0; }
    void Set() const { SetEvent(handle_.get()); }

private:
    static inline unsigned uses_ = 0;
    std::wstring name_;
    qx::UniqueHandle handle_;
};

// A handle to the logging mutex, not waited on.
class KeptMutex {
public:
    KeptMutex() : handle_(CreateMutexW(nullptr, FALSE, kLogMutexName)) {}
    ~KeptMutex() { CloseHandle(handle_); }
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_;
};

// Whether the process has the logging mutex open: a handle of the mutex
// kind in its handle list whose duplicate names the logging mutex. A
// writer opens it for each record right before it waits for it.
bool HasLoggingMutexOpen(DWORD processId, HANDLE ownMutex) {
    struct Entry {
        ULONG processId;
        UCHAR type;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using QueryFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    using NameFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto query =
        reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    const auto nameOf = reinterpret_cast<NameFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
    if (!query || !nameOf) return false;
    std::vector<char> list(1 << 20);
    for (ULONG needed = 0; query(16 /* handles */, list.data(), static_cast<ULONG>(list.size()), &needed) != 0;) {
        if (list.size() >= (64u << 20)) return false;
        list.resize(list.size() * 2);
    }
    const ULONG count = *reinterpret_cast<const ULONG*>(list.data());
    const auto* entries = reinterpret_cast<const Entry*>(list.data() + sizeof(ULONG_PTR));
    const qx::UniqueHandle process(OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId));
    UCHAR mutexType = 0;
    for (ULONG i = 0; i < count; ++i)
        if (entries[i].processId == GetCurrentProcessId() && entries[i].handle == reinterpret_cast<ULONG_PTR>(ownMutex))
            mutexType = entries[i].type;
    if (!process || !mutexType) return false;
    for (ULONG i = 0; i < count; ++i) {
        if (entries[i].processId != processId || entries[i].type != mutexType) continue;
        qx::UniqueHandle copy;
        if (!DuplicateHandle(process.get(), reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entries[i].handle)),
                             GetCurrentProcess(), copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS))
            continue;
        alignas(8) char name[1024] = {};
        if (nameOf(copy.get(), 1 /* name */, name, sizeof name, nullptr) != 0) continue;
        const auto* text = reinterpret_cast<const UNICODE_STRING*>(name);
        const std::wstring full(text->Buffer ? text->Buffer : L"", text->Length / sizeof(wchar_t));
        if (full.find(L"CLogger--LoggingUtility") != std::wstring::npos) return true;
    }
    return false;
}

// Whether a writer's result file holds its whole line.
bool ResultWritten(const std::wstring& file) {
    const std::string text = ReadBytes(file);
    return !text.empty() && text.back() == '\n';
}

class StressLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ResetKnownState());
        SHCreateDirectoryExW(nullptr, kWorkFolder, nullptr);
    }

    static Process StartHelper(const std::wstring& args, bool suspended = false) {
        StartOptions options;
        options.commandLine = L"\"" + Helper() + L"\" " + args;
        options.suspended = suspended;
        return Process::Start(Helper(), options);
    }

    // Whether another process can take the logging mutex now, and how.
    static DWORD ProbeMutex() {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, kLogMutexName);
        if (!mutex) return WAIT_FAILED;
        const DWORD wait = WaitForSingleObject(mutex, 3000);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex);
        CloseHandle(mutex);
        return wait;
    }
};

TEST_F(StressLog, FourWritersOfOneFileLeaveOnlyWholeRecords) {
    constexpr int kWriters = 4;
    constexpr long kRecords = 2000;
    const std::wstring log = std::wstring(kWorkFolder) + L"shared.log";
    std::vector<Process> writers;
    for (int w = 0; w < kWriters; ++w) {
        const std::wstring result = std::wstring(kWorkFolder) + L"writer" + std::to_wstring(w) + L".txt";
        writers.push_back(StartHelper(L"write \"" + log + L"\" " + std::to_wstring(kRecords) + L" writer" +
                                          std::to_wstring(w) + L" \"" + result + L"\"",
                                      true));
        ASSERT_TRUE(writers.back().Started());
    }
    for (auto& w : writers) w.Resume();
    for (auto& w : writers) {
        ASSERT_EQ(WaitForSingleObject(w.Handle(), 180000), WAIT_OBJECT_0) << "a writer did not end";
        EXPECT_EQ(w.ExitCode(), 0u);
    }

    // Strictly four CRLF lines per record, nothing else anywhere in the file.
    const std::string bytes = ReadBytes(log);
    const std::regex record(
        "________________________________________\r\n"
        "LOG TYPE: TRACE\r\n"
        "TIME: ([1-9]|1[0-2])-([1-9]|[12][0-9]|3[01])-[0-9]{4} ([0-9]|1[0-9]|2[0-3]):([0-9]|[1-5][0-9]):"
        "([0-9]|[1-5][0-9]):([0-9]|[1-9][0-9]|[1-9][0-9][0-9])\r\n"
        "writer([0-3]) record (0|[1-9][0-9]*)\r\n");
    std::vector<long> next(kWriters, 0);   // each writer's records come in its own order
    std::vector<long> counted(kWriters, 0);
    size_t at = 0;
    std::smatch m;
    while (at < bytes.size()) {
        const std::string rest = bytes.substr(at, 200);
        ASSERT_TRUE(std::regex_search(rest, m, record, std::regex_constants::match_continuous))
            << "torn or foreign bytes at offset " << at << ": " << rest.substr(0, 120);
        const int w = std::stoi(m[7].str());
        const long k = std::stol(m[8].str());
        EXPECT_GE(k, next[w]) << "writer " << w << " out of order at offset " << at;
        next[w] = k + 1;
        ++counted[w];
        at += static_cast<size_t>(m.length(0));
    }

    long sum = 0;
    for (int w = 0; w < kWriters; ++w) {
        SCOPED_TRACE("writer " + std::to_string(w));
        const WriterResult r = ReadResult(std::wstring(kWorkFolder) + L"writer" + std::to_wstring(w) + L".txt");
        EXPECT_EQ(r.asked, kRecords);
        EXPECT_EQ(r.written + r.dropped, kRecords) << "every record is either written or dropped";
        // Each writer holds the mutex for one record at a time, so none has
        // to wait anywhere near the second after which a record is dropped.
        EXPECT_EQ(r.dropped, 0) << "records lost with no one holding the mutex for long";
        EXPECT_EQ(counted[w], r.written) << "what it counts as written is in the file, once";
        sum += r.written;
        std::printf("writer %d: written %ld, dropped %ld, slowest record %ld ms\n", w, r.written, r.dropped, r.maxMs);
    }
    long total = 0;
    for (long c : counted) total += c;
    EXPECT_EQ(total, sum);
}

TEST_F(StressLog, WriterKilledWhileHoldingTheMutexBlocksNoOne) {
    // killedFirst: the owner dies before the next writer comes; otherwise
    // while that writer is already waiting for it.
    for (const bool killedFirst : {true, false}) {
        SCOPED_TRACE(killedFirst ? "owner killed, then a writer comes" : "owner killed while a writer waits");
        const std::wstring tag = killedFirst ? L"first" : L"waiting";
        const std::wstring log = std::wstring(kWorkFolder) + tag + L".log";
        const std::wstring result = std::wstring(kWorkFolder) + tag + L".txt";
        NamedEvent held(tag + L"-held"), started(tag + L"-started"), stay(tag + L"-stay");

        Process owner = StartHelper(L"hold " + held.Name() + L" 60000");
        ASSERT_TRUE(owner.Started());
        ASSERT_TRUE(held.WaitSet(20000)) << "the owner did not get the mutex";
        // A handle of our own keeps the mutex in being, abandoned, after its
        // owner's death: the writers open and close theirs for each record.
        const KeptMutex kept;
        if (killedFirst) owner.Kill();

        Process writer = StartHelper(L"write \"" + log + L"\" 3 " + tag + L" \"" + result + L"\" " + started.Name() +
                                   L" " + stay.Name());
        ASSERT_TRUE(writer.Started());
        ASSERT_TRUE(started.WaitSet(20000));
        if (!killedFirst) {
            // The writer opens the mutex right before it waits for it.
            ASSERT_TRUE(WaitUntil([&] { return HasLoggingMutexOpen(writer.Id(), kept.Handle()); }))
                << "the writer never opened the logging mutex";
            owner.Kill();
        }
        // The writer has finished its records once its result is there; it
        // stays alive, so whatever it still owned would still be owned.
        ASSERT_TRUE(WaitUntil([&] { return ResultWritten(result); })) << "the writer is stuck";
        const WriterResult r = ReadResult(result);
        EXPECT_EQ(r.written + r.dropped, 3);
        EXPECT_LT(r.firstMs, static_cast<long>(kHangGuardMs)) << "the first record after the owner's death hung";
        EXPECT_GE(r.written, 2) << "the records after it are written";
        EXPECT_EQ(ProbeMutex(), static_cast<DWORD>(WAIT_OBJECT_0)) << "the mutex is free and not abandoned";
        stay.Set();
        EXPECT_EQ(WaitForSingleObject(writer.Handle(), 20000), WAIT_OBJECT_0);
        EXPECT_EQ(ProbeMutex(), static_cast<DWORD>(WAIT_OBJECT_0)) << "the writer left nothing owned behind";
    }
}

TEST_F(StressLog, WriterFacingALiveOwnerGivesUpAfterItsWait) {
    const std::wstring log = std::wstring(kWorkFolder) + L"live.log";
    const std::wstring result = std::wstring(kWorkFolder) + L"live.txt";
    NamedEvent held(L"live-held");
    Process owner = StartHelper(L"hold " + held.Name() + L" 8000");
    ASSERT_TRUE(held.WaitSet(20000));
    const KeptMutex kept;
    Process writer = StartHelper(L"write \"" + log + L"\" 2 live \"" + result + L"\"");
    ASSERT_EQ(WaitForSingleObject(writer.Handle(), 20000), WAIT_OBJECT_0) << "the writer is stuck";
    const WriterResult r = ReadResult(result);
    EXPECT_EQ(r.dropped, 2) << "no record while another holds the mutex";
    EXPECT_GE(r.firstMs, 900) << "it waited for the mutex first";
    EXPECT_LT(r.maxMs, static_cast<long>(kHangGuardMs)) << "a record hung";
    EXPECT_FALSE(FileExists(log));
    owner.Kill();
    // What the other cases rule out is there to be seen.
    EXPECT_EQ(ProbeMutex(), static_cast<DWORD>(WAIT_ABANDONED)) << "the killed owner's mutex is handed over abandoned";
}

}  // namespace
}  // namespace qxtest
