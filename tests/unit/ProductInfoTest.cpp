#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/Logger.h"
#include "ui/MsiBinding.h"
#include "ui/ProductInfo.h"
#include "framework/Ownership.h"
#include "framework/SystemLibrary.h"
#include "tests/support/Log.h"
#include "tests/support/Paths.h"
#include "tests/support/TemporaryLog.h"

namespace {

using Lines = std::vector<std::string>;

std::wstring FixturePath(const wchar_t* name) { return qxtest::FixturesDir() + name; }

// The log as "TRACE <text>" and "ERROR <code>" lines, in order: a record's
// first line, and of an error record the code.
Lines LogSummary(const std::string& bytes) {
    bool whole = false;
    Lines lines;
    for (const auto& r : qxtest::ParseLog(bytes, &whole)) {
        size_t text = 0;
        if (r.type == "ERROR") text = r.text.find(" Code: ") + 7;
        lines.push_back(r.type + " " + r.text.substr(text, r.text.find("\r\n", text) - text));
    }
    EXPECT_TRUE(whole) << bytes;
    return lines;
}

// The three fields as the dialog holds them, each followed by a guard that
// no read may reach.
struct Fields {
    wchar_t name[kProductNameCapacity] = L"untouched name";
    wchar_t guard1[4] = {0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC};
    wchar_t code[kProductCodeCapacity] = L"untouched code";
    wchar_t guard2[4] = {0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC};
    wchar_t manufacturer[kManufacturerCapacity] = L"untouched manufacturer";
    wchar_t guard3[4] = {0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC};

    bool GuardsIntact() const {
        for (const wchar_t* g : {guard1, guard2, guard3})
            if (std::wstring(g, 4) != std::wstring(4, 0xCCCC)) return false;
        return true;
    }
};

class ProductInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Msi().error, 0u) << "msi.dll bound from the system folder";
        // Only to count the handles left open; the launcher never needs it.
        closeAll_ = reinterpret_cast<UINT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msi.dll"), "MsiCloseAllHandles")));
        ASSERT_NE(closeAll_, nullptr);
        closeAll_();
    }
    // A fresh read into fresh fields, with a fresh log.
    DWORD Read(const wchar_t* path) {
        log_.Clear();
        f_ = Fields();
        return ReadProductInfo(path, f_.name, f_.code, f_.manufacturer);
    }
    Lines Log() const { return LogSummary(log_.Bytes()); }
    bool Untouched(bool name, bool code, bool manufacturer) const {
        return (!name || std::wstring(f_.name) == L"untouched name") &&
               (!code || std::wstring(f_.code) == L"untouched code") &&
               (!manufacturer || std::wstring(f_.manufacturer) == L"untouched manufacturer");
    }

    qxtest::TemporaryLog log_{L"productinfo"};
    Fields f_;
    UINT(WINAPI* closeAll_)() = nullptr;
};

TEST_F(ProductInfoTest, GoodPackageFillsTheThreeFields) {
    ASSERT_EQ(Read(FixturePath(L"QXPRP4005.msi").c_str()), 0u);
    EXPECT_STREQ(f_.name, L"QX Prism P4000 Series");
    EXPECT_STREQ(f_.code, L"{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}");
    EXPECT_STREQ(f_.manufacturer, L"Selkirk-Vane");
    EXPECT_TRUE(f_.GuardsIntact());
    EXPECT_EQ(Log(), (Lines{"TRACE Inside GetProductInfo", "TRACE Exiting GetProductInfo"}));
    EXPECT_EQ(closeAll_(), 0u) << "handle closed";
}

TEST_F(ProductInfoTest, PathsThatOpenNoPackageAreLoggedAndReturnedWithFieldsUntouched) {
    EXPECT_EQ(Read(L"C:\\qx-no-such-folder\\QXPRP4005.msi"), 2u);
    EXPECT_EQ(Log(), (Lines{"TRACE Inside GetProductInfo", "ERROR 2"}));
    EXPECT_TRUE(Untouched(true, true, true));

    const std::wstring folder = FixturePath(L""), truncated = FixturePath(L"Truncated.msi"),
                       garbage = FixturePath(L"Garbage.msi");
    for (const wchar_t* path : {static_cast<const wchar_t*>(nullptr), L"", folder.c_str(), truncated.c_str(),
                                garbage.c_str()}) {
        SCOPED_TRACE(path ? std::string(path, path + wcslen(path)) : "null");
        DWORD r = Read(path);
        EXPECT_NE(r, 0u);
        EXPECT_EQ(Log(), (Lines{"TRACE Inside GetProductInfo", "ERROR " + std::to_string(r)}));
        EXPECT_TRUE(Untouched(true, true, true));
        EXPECT_EQ(closeAll_(), 0u);
    }
    EXPECT_NE(Read(truncated.c_str()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "damaged is not missing";
    EXPECT_NE(Read(garbage.c_str()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ProductInfoTest, ValueTooLongForItsFieldStopsTheReadsThere) {
    // A ProductCode of 40 characters leaves no room for the terminator.
    ASSERT_EQ(Read(FixturePath(L"LongProductCode.msi").c_str()), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_STREQ(f_.name, L"QX Prism P4000 Series");
    EXPECT_LT(wcsnlen(f_.code, kProductCodeCapacity), kProductCodeCapacity) << "still terminated";
    EXPECT_TRUE(Untouched(false, false, true)) << "not read after the failure";
    EXPECT_TRUE(f_.GuardsIntact());
    EXPECT_EQ(Log(), (Lines{"TRACE Inside GetProductInfo", "ERROR 234"}));
    EXPECT_EQ(closeAll_(), 0u) << "closed on the failure path too";

    ASSERT_EQ(Read(FixturePath(L"LongManufacturer.msi").c_str()), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_STREQ(f_.name, L"QX Prism P4000 Series");
    EXPECT_STREQ(f_.code, L"{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}");
    EXPECT_LT(wcsnlen(f_.manufacturer, kManufacturerCapacity), kManufacturerCapacity);
    EXPECT_TRUE(f_.GuardsIntact());
    EXPECT_EQ(Log(), (Lines{"TRACE Inside GetProductInfo", "ERROR 234"}));
    EXPECT_EQ(closeAll_(), 0u);
}

TEST_F(ProductInfoTest, UiLevelIsSetOnEveryCallWithoutTouchingTheOwnerWindow) {
    HWND owner = GetDesktopWindow();
    for (const std::wstring& path : {FixturePath(L"QXPRP4005.msi"), std::wstring(L"C:\\qx-none.msi"),
                                     FixturePath(L"LongProductCode.msi")}) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        HWND set = owner;
        Msi().setInternalUI(5, &set);   // full UI, and an owner to find again
        Read(path.c_str());
        HWND before = nullptr;
        EXPECT_EQ(Msi().setInternalUI(5, &before), kMsiUiLevelNoneSourceResOnly);
        EXPECT_EQ(before, owner) << "the level is set with no owner-window pointer";
    }
    HWND none = nullptr;
    Msi().setInternalUI(kMsiUiLevelNoneSourceResOnly, &none);
}

TEST_F(ProductInfoTest, InstallerCallsThatCannotBeBoundAreAnErrorNotACrash) {
    // No such DLL in the system folder, and a system DLL without the
    // installer's ordinals.
    const MsiCalls missing = BindMsiCalls(L"qx-no-such-installer.dll");
    EXPECT_EQ(missing.error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    const MsiCalls wrong = BindMsiCalls(L"version.dll");
    EXPECT_EQ(wrong.error, static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    for (const MsiCalls* calls : {&missing, &wrong}) {
        log_.Clear();
        f_ = Fields();
        const DWORD r = ReadProductInfo(FixturePath(L"QXPRP4005.msi").c_str(), f_.name, f_.code, f_.manufacturer,
                                        *calls);
        EXPECT_EQ(r, calls->error);
        EXPECT_NE(r, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "never taken for a missing package";
        EXPECT_EQ(Log(), (Lines{"TRACE Inside GetProductInfo", "ERROR " + std::to_string(r)}));
        EXPECT_TRUE(Untouched(true, true, true));
    }
}

TEST(SystemLibrary, ADllBesideTheProgramIsNotTakenForASystemOne) {
    // A copy of the resource module under a name the system folder does not
    // hold: found beside the program by a plain load, never by the
    // system-folder load.
    const std::wstring planted = qxtest::ProgramFolder() + L"qx-planted-system.dll";
    wchar_t source[MAX_PATH] = {};
    ASSERT_GT(SearchPathW(nullptr, L"QXVSetupRES64.dll", nullptr, MAX_PATH, source, nullptr), 0u);
    ASSERT_TRUE(CopyFileW(source, planted.c_str(), FALSE));
    {
        qx::UniqueModule plain(LoadLibraryExW(L"qx-planted-system.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
        EXPECT_TRUE(plain) << "the control: a plain search finds it";
    }
    SetLastError(0);
    EXPECT_EQ(qx::LoadSystemLibrary(L"qx-planted-system.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    const qx::UniqueModule system(qx::LoadSystemLibrary(L"version.dll"));
    ASSERT_TRUE(system);
    wchar_t loaded[MAX_PATH] = {}, systemFolder[MAX_PATH] = {};
    GetModuleFileNameW(system.get(), loaded, MAX_PATH);
    GetSystemDirectoryW(systemFolder, MAX_PATH);
    EXPECT_EQ(_wcsnicmp(loaded, systemFolder, wcslen(systemFolder)), 0);
    DeleteFileW(planted.c_str());
}

}  // namespace
