// The real Pad, "Setup.exe": its manifest asks for administrator rights, it
// starts the launcher beside it as its caller and waits for it, and when
// there is no launcher to start it says so and ends with the error.
#include <shlobj.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "framework/Ownership.h"
#include "tests/support/Harness.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

constexpr wchar_t kRoot[] = L"C:\\qxtest\\StressPad\\";

std::string ManifestOf(const std::wstring& binary) {
    const qx::UniqueModule module(
        LoadLibraryExW(binary.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return {};
    HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));   // RT_MANIFEST
    HGLOBAL loaded = found ? LoadResource(module.get(), found) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return bytes ? std::string(bytes, SizeofResource(module.get(), found)) : std::string();
}

class StressPad : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ResetKnownState()); }
};

TEST_F(StressPad, ManifestRequiresAdministratorAndNamesTheSupportedSystems) {
    const std::string manifest = ManifestOf(ProductDir() + L"Setup.exe");
    ASSERT_FALSE(manifest.empty()) << "no manifest resource 1 in Setup.exe";
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos)
        << manifest;
    // Windows 7 and Windows 10/11.
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
}

TEST_F(StressPad, StartsTheLauncherAsItsCallerAndWaitsForIt) {
    // A launcher that only records how it was started.
    const std::wstring folder = std::wstring(kRoot) + L"pad\\";
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    ASSERT_TRUE(CopyPadInto(folder));
    ASSERT_TRUE(CopyInto(DoublesDir() + L"pad\\Setup.exe", folder, L"QXVSetup64.exe"));
    Process pad = Process::Start(folder + L"Setup.exe", StartOptions());
    ASSERT_TRUE(pad.Started());
    const Outcome outcome = WaitForEnd(pad, 60000);
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, 0u);
    const auto calls = RecordLines(folder + L"pad-record.txt");
    ASSERT_EQ(calls.size(), 1u) << "the launcher had run when the Pad ended";
    EXPECT_NE(calls[0].find(L"CALLER=SETUP"), std::wstring::npos) << Narrow(calls[0]);
}

TEST_F(StressPad, MissingLauncherIsToldAndItsErrorIsTheExitCode) {
    const std::wstring folder = std::wstring(kRoot) + L"alone\\";
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    ASSERT_TRUE(CopyPadInto(folder));
    Process pad = Process::Start(folder + L"Setup.exe", StartOptions());
    ASSERT_TRUE(pad.Started());
    HWND box = nullptr;
    for (int i = 0; i < 300 && !box && !pad.Ended(); ++i) {
        for (const auto& w : TopLevelWindows(pad.Id()))
            if (w.windowClass == L"#32770" && w.caption == kPadCaption && IsWindowVisible(w.window)) box = w.window;
        if (!box) Sleep(100);
    }
    ASSERT_NE(box, nullptr) << "no message box; the Pad ended with " << pad.ExitCode();
    ASSERT_TRUE(WaitUntil([&] { return !ControlText(box, 0xFFFF).empty(); })) << "the box shows no text";
    const std::wstring text = ControlText(box, 0xFFFF);
    EXPECT_NE(text.find(folder + L"QXVSetup64.exe"), std::wstring::npos) << Narrow(text);
    const auto reason = Words(SystemText(ERROR_FILE_NOT_FOUND));
    ASSERT_FALSE(reason.empty());
    const auto words = Words(text);
    EXPECT_NE(std::search(words.begin(), words.end(), reason.begin(), reason.end()), words.end())
        << "the system's text for the error: " << Narrow(text);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WaitForSingleObject(pad.Handle(), 20000), WAIT_OBJECT_0) << "the Pad did not end after OK";
    EXPECT_EQ(pad.ExitCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace qxtest
