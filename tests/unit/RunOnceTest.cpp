#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/Logger.h"
#include "res/ProductIdentity.h"
#include "tests/support/Registry.h"
#include "worker/RunOnce.h"

namespace {

TEST(ResumeCommand, QuotesThePathAloneAndJoinsWithOneBackslash) {
    wchar_t cmd[MAX_PATH] = {};
    ASSERT_TRUE(BuildResumeCommand(L"C:\\Users\\u\\AppData\\Roaming\\Selkirk-Vane\\QX Prism P4000 Series\\", cmd));
    EXPECT_STREQ(cmd,
                 L"\"C:\\Users\\u\\AppData\\Roaming\\Selkirk-Vane\\QX Prism P4000 Series\\QXVSetup64.exe\" "
                 L"AFTERREBOOT=YES CALLER=SETUP");
    wchar_t cmd2[MAX_PATH] = {};
    ASSERT_TRUE(BuildResumeCommand(L"D:\\cache", cmd2));
    EXPECT_STREQ(cmd2, L"\"D:\\cache\\QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP");
}

TEST(ResumeCommand, AQuietRunResumesQuietlyOrNotAtAll) {
    wchar_t cmd[MAX_PATH] = {};
    ASSERT_TRUE(BuildResumeCommand(L"D:\\cache\\", cmd, true));
    EXPECT_STREQ(cmd, L"\"D:\\cache\\QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP QUIET=YES");
    // Room for the loud command but not for the quiet one: a resume that
    // would show windows in an unattended installation is not written.
    const std::wstring loud = L"\"" + std::wstring(L"C:\\") + L"\\QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP";
    const std::wstring folder = L"C:\\" + std::wstring(MAX_PATH - 1 - loud.size(), L'f') + L"\\";
    wchar_t fits[MAX_PATH] = {};
    ASSERT_TRUE(BuildResumeCommand(folder.c_str(), fits, false));
    wchar_t quiet[MAX_PATH];
    for (auto& c : quiet) c = L'#';
    EXPECT_FALSE(BuildResumeCommand(folder.c_str(), quiet, true));
    for (wchar_t c : quiet) ASSERT_EQ(c, L'\0');
}

TEST(ResumeCommand, TooLongOrEmptyFolderGivesNoCommand) {
    wchar_t cmd[MAX_PATH];
    for (auto& c : cmd) c = L'#';
    const std::wstring folder = L"C:\\" + std::wstring(220, L'f') + L"\\";
    EXPECT_FALSE(BuildResumeCommand(folder.c_str(), cmd));
    for (wchar_t c : cmd) ASSERT_EQ(c, L'\0');
    EXPECT_FALSE(BuildResumeCommand(L"", cmd));
    EXPECT_FALSE(BuildResumeCommand(nullptr, cmd));
}

class RunOnceRegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        qxtest::DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        qxtest::DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
    }
    static bool Read(const wchar_t* key, const wchar_t* name, DWORD* type, std::wstring* data, DWORD* size) {
        wchar_t buf[1024] = {};
        DWORD bytes = sizeof buf;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, type, buf, &bytes) != 0)
            return false;
        *size = bytes;
        *data = buf;
        return true;
    }
};

TEST_F(RunOnceRegistryTest, EntryIsAlways520BytesOfString) {
    for (const wchar_t* folder : {L"C:\\c\\", L"C:\\Users\\someone\\AppData\\Roaming\\Selkirk-Vane\\QX Prism P4000 Series\\"}) {
        SetRunOnceEntry(folder);
        DWORD type = 0, size = 0;
        std::wstring data;
        ASSERT_TRUE(Read(kRunOnceKey, kRunOnceValue, &type, &data, &size));
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, 520u);
        EXPECT_EQ(data, L"\"" + std::wstring(folder) + L"QXVSetup64.exe\" AFTERREBOOT=YES CALLER=SETUP");
    }
}

TEST_F(RunOnceRegistryTest, RemoveDeletesOnlyTheRunValue) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), 0);
    RegSetValueExW(k, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegSetValueExW(k, L"Another Product", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"y"), 4);
    RegCloseKey(k);
    SetRunOnceEntry(L"C:\\c\\");

    RemoveRunOnceEntry();
    DWORD type, size;
    std::wstring data;
    EXPECT_FALSE(Read(kRunKey, kRunValue, &type, &data, &size));
    EXPECT_TRUE(Read(kRunKey, L"Another Product", &type, &data, &size));
    EXPECT_TRUE(Read(kRunOnceKey, kRunOnceValue, &type, &data, &size));
    RemoveRunOnceEntry();   // nothing left to remove: no effect, no failure

    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &k), 0);
    RegDeleteValueW(k, L"Another Product");
    RegCloseKey(k);
}


// The restart request, with the system's call stood in for: what it is
// asked with, and how often, for each answer the system may give.
namespace restart {
// What each stand-in was asked.
struct Call {
    bool system;   // InitiateShutdownW, else ExitWindowsEx
    DWORD flags;
    DWORD graceSeconds;
    DWORD reason;
    bool thisMachine;
};
std::vector<Call> g_calls;
std::vector<DWORD> g_answers;   // one per call: 0 takes the request, else the error
int g_pauses = 0;
DWORD NextAnswer() {
    const size_t call = g_calls.size() - 1;
    return call < g_answers.size() ? g_answers[call] : g_answers.back();
}
BOOL WINAPI AskSession(UINT flags, DWORD reason) {
    g_calls.push_back({false, flags, 0, reason, true});
    const DWORD error = NextAnswer();
    SetLastError(error);
    return error == 0;
}
DWORD WINAPI AskSystem(LPWSTR machine, LPWSTR message, DWORD grace, DWORD flags, DWORD reason) {
    g_calls.push_back({true, flags, grace, reason, machine == nullptr && message == nullptr});
    return NextAnswer();
}
void WINAPI Pause(DWORD) { ++g_pauses; }
}  // namespace restart

TEST(RestartRequest, AsksEveryProgramInTheWayThatWorksFromWhereItRunsAndRetriesOnlyWhileNotReady) {
    struct Case {
        RestartAsker asker;
        std::vector<DWORD> answers;
        bool taken;
        size_t calls;
    };
    const DWORD locked = ERROR_MACHINE_LOCKED, notReady = ERROR_NOT_READY;
    const RestartAsker user = RestartAsker::kInteractiveUser, elsewhere = RestartAsker::kElsewhere;
    const Case cases[] = {
        {user, {0}, true, 1},
        {user, {locked, notReady, 0}, true, 3},
        {user, {ERROR_ACCESS_DENIED}, false, 1},                         // refused for good: no retry
        {user, {locked}, false, static_cast<size_t>(kRestartRetries) + 1},   // never ready: gives up
        {elsewhere, {0}, true, 1},
        {elsewhere, {notReady, 0}, true, 2},
        {elsewhere, {ERROR_SHUTDOWN_IN_PROGRESS}, false, 1},   // someone else's shutdown: not one we started
        {elsewhere, {locked}, false, static_cast<size_t>(kRestartRetries) + 1},
    };
    constexpr DWORD planned = SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_UPGRADE;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.asker == user ? "interactive user" : "elsewhere") + ", first answer " +
                     std::to_string(c.answers[0]));
        restart::g_calls.clear();
        restart::g_answers = c.answers;
        restart::g_pauses = 0;
        RestartCalls calls;
        calls.exitWindows = restart::AskSession;
        calls.initiateShutdown = restart::AskSystem;
        calls.pause = restart::Pause;
        EXPECT_EQ(RebootSystemNow(c.asker, calls), c.taken);
        ASSERT_EQ(restart::g_calls.size(), c.calls);
        EXPECT_EQ(restart::g_pauses, static_cast<int>(c.calls) - 1) << "a pause before each retry";
        for (const restart::Call& call : restart::g_calls) {
            EXPECT_EQ(call.system, c.asker == elsewhere) << "the call that restarts from there";
            EXPECT_EQ(call.reason, planned);
            EXPECT_TRUE(call.thisMachine);
            if (call.system) {
                // Never forced, neither the other programs nor this one.
                EXPECT_EQ(call.flags, static_cast<DWORD>(SHUTDOWN_RESTART));
                EXPECT_GT(call.graceSeconds, 0u) << "a person at the machine is told first";
            } else {
                EXPECT_EQ(call.flags & EWX_FORCE, 0u) << "never forced: programs would lose their work";
                EXPECT_EQ(call.flags, static_cast<DWORD>(EWX_REBOOT | EWX_FORCEIFHUNG));
            }
        }
    }
}

}  // namespace
