#pragma once
// Base of every scenario: puts back the prefix state that launchers change,
// so scenarios do not see each other's keys, values or logs.
#include <gtest/gtest.h>

#include "tests/scenario/Harness.h"

namespace qxtest {

inline constexpr wchar_t kPendingRebootKey[] = L"SOFTWARE\\Selkirk-Vane\\Installed Products\\PendingReboot";
inline constexpr wchar_t kLogLevelKey[] = L"SOFTWARE\\Oblent\\Installer";
inline constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kRunValue[] = L"QX Prism P4000 Series Install";
inline constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kRunOnceValue[] = L"QX Prism P4000 Install";
inline constexpr DWORD kStartTimeoutMs = 30000;

class ScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteKey(HKEY_LOCAL_MACHINE, kPendingRebootKey);
        DeleteKey(HKEY_LOCAL_MACHINE, kLogLevelKey);
        DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        ClearLogs();
        RemoveCache();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = L"C:\\qxtest\\" + Widen(info->test_suite_name()) + L"." + Widen(info->name()) + L"\\";
    }

    static void DeleteValue(HKEY root, const wchar_t* key, const wchar_t* name) {
        HKEY k = nullptr;
        if (RegOpenKeyExW(root, key, 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
            RegDeleteValueW(k, name);
            RegCloseKey(k);
        }
    }

    // Runs the launcher in folder with args and waits for it to end.
    void RunToEnd(const std::wstring& folder, const std::wstring& args) {
        Process p = Process::Start(folder + L"QXVSetup64.exe", args);
        ASSERT_TRUE(p.Started());
        ASSERT_TRUE(p.Wait(kStartTimeoutMs)) << "the launcher did not end";
    }

    // What the recording Pad was started with, one line per start.
    std::vector<std::wstring> PadStarts(const std::wstring& folder) {
        std::vector<std::wstring> lines;
        std::wstring all = ReadUtf8(folder + L"pad-record.txt");
        size_t pos = 0;
        while (pos < all.size()) {
            size_t nl = all.find(L'\n', pos);
            if (nl == std::wstring::npos) nl = all.size();
            lines.push_back(all.substr(pos, nl - pos));
            pos = nl + 1;
        }
        return lines;
    }

    std::wstring folder_;
};

}  // namespace qxtest
