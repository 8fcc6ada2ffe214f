#pragma once
// Base of every scenario: starts it from the prefix's known state, so
// scenarios do not see each other's keys, values, folders or logs, and
// gives it a fixture folder of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/ActionsPause.h"
#include "tests/support/Harness.h"
#include "tests/support/Waits.h"

namespace qxtest {

inline constexpr DWORD kStartTimeoutMs = 30000;

// True when the texts appear in this order (others may stand between them).
inline ::testing::AssertionResult InOrder(const std::vector<std::string>& texts, const std::vector<std::string>& wanted) {
    size_t at = 0;
    for (const auto& w : wanted) {
        auto it = std::find(texts.begin() + static_cast<long>(at), texts.end(), w);
        if (it == texts.end()) return ::testing::AssertionFailure() << "missing or out of order: " << w;
        at = static_cast<size_t>(it - texts.begin()) + 1;
    }
    return ::testing::AssertionSuccess();
}

class ScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ResetKnownState());
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = L"C:\\qxtest\\" + Widen(info->test_suite_name()) + L"." + Widen(info->name()) + L"\\";
    }

    // Runs the launcher in folder with args and waits for it to end.
    void RunToEnd(const std::wstring& folder, const std::wstring& args) {
        Process p = Process::Start(folder + kLauncherFile64, args);
        ASSERT_TRUE(p.Started());
        ASSERT_TRUE(p.Wait(kStartTimeoutMs)) << "the launcher did not end";
    }

    // Makes the fixture folder with the install-actions double, whose script
    // pauses it (the pause object is made by the caller before), starts the
    // launcher there with args and waits until the double has reached the
    // pause. The process is not started when the folder could not be made;
    // a failure names what did not happen.
    Process StartHeldInModule(const std::string& script, const ActionsPause& pause, const std::wstring& args) {
        const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
        WriteActionsScript(folder, script);
        Process p = Process::Start(folder + kLauncherFile64, args);
        EXPECT_TRUE(p.Started()) << "the launcher did not start";
        EXPECT_TRUE(p.Started() && pause.Reached(kHangGuardMs)) << "the launcher did not reach the module";
        return p;
    }

    // What the recording Pad was started with, one line per start.
    std::vector<std::wstring> PadStarts(const std::wstring& folder) { return RecordLines(folder + L"pad-record.txt"); }

    std::wstring folder_;
};

}  // namespace qxtest
