#include <gtest/gtest.h>

#include <string>

#include "app/PendingReboot.h"
#include "framework/Ownership.h"
#include "modules/Utilities.h"
#include "res/ProductIdentity.h"

namespace {

HMODULE ResourceModule() {
    static HMODULE module = LoadLibraryW(L"QXVSetupRES64.dll");
    return module;
}

TEST(Utilities, LoadsStringsOfTheResourceModule) {
    ASSERT_NE(ResourceModule(), nullptr) << "QXVSetupRES64.dll on the search path";
    Utilities* u = Utilities::Instance();
    EXPECT_EQ(u, Utilities::Instance());
    // Each string as the system reads it from the module.
    const auto systemText = [](unsigned id) {
        const wchar_t* text = nullptr;
        const int n = LoadStringW(ResourceModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
        return n > 0 ? std::wstring(text, static_cast<size_t>(n)) : std::wstring();
    };
    ASSERT_FALSE(systemText(15002).empty());
    ASSERT_FALSE(systemText(15016).empty());
    ASSERT_NE(systemText(15002), systemText(15016));
    std::wstring text = L"old";
    EXPECT_EQ(u->LoadStringMV(text, ResourceModule(), 15002), systemText(15002).size());
    EXPECT_EQ(text, systemText(15002)) << "the whole string, in place of what the string held";
    EXPECT_NE(text.find(L"%n"), std::wstring::npos);
    EXPECT_EQ(u->LoadStringMV(text, ResourceModule(), 15016), systemText(15016).size());
    EXPECT_EQ(text, systemText(15016));
    EXPECT_EQ(u->LoadStringMV(text, ResourceModule(), 4242), 0u);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(u->LoadStringMV(text, nullptr, 15002), 0u) << "the test program has no such string";
    EXPECT_TRUE(text.empty());
}

TEST(PendingReboot, TextIsWrappedAtSixtyWithHardBreaks) {
    const std::wstring text = FormatPendingRebootText(ResourceModule());
    std::wstring definition;
    Utilities::Instance()->LoadStringMV(definition, ResourceModule(), 15002);
    size_t hardBreaks = 0;
    for (size_t p = 0; (p = definition.find(L"%n", p)) != std::wstring::npos; p += 2) ++hardBreaks;
    size_t lines = 1, longest = 0, current = 0;
    for (wchar_t c : text) {
        if (c == L'\n') { ++lines; longest = std::max(longest, current); current = 0; }
        else if (c != L'\r') ++current;
    }
    longest = std::max(longest, current);
    EXPECT_LE(longest, 60u);
    EXPECT_GT(lines, hardBreaks + 1) << "long lines were wrapped too";
    EXPECT_EQ(text.find(L"%n"), std::wstring::npos);
}

TEST(PendingReboot, ResourceModuleLoadedAsAnImageResourceGivesTheSameText) {
    // As the launcher loads it: by full path, as resources only.
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(SearchPathW(nullptr, L"QXVSetupRES64.dll", nullptr, MAX_PATH, path, nullptr), 0u);
    const qx::UniqueModule image(
        LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(image);
    std::wstring fromImage, fromModule;
    EXPECT_GT(Utilities::Instance()->LoadStringMV(fromImage, image.get(), 15002), 0u);
    Utilities::Instance()->LoadStringMV(fromModule, ResourceModule(), 15002);
    EXPECT_EQ(fromImage, fromModule);
    EXPECT_EQ(FormatPendingRebootText(image.get()), FormatPendingRebootText(ResourceModule()));
    EXPECT_GT(Utilities::Instance()->LoadStringMV(fromImage, image.get(), 15016), 0u);
}

TEST(PendingReboot, InsertsInTheTextArePassedThroughAndBreaksStillWork) {
    // Nothing is given for %1 or %2: they stay as they are, and nothing is
    // read in their place.
    const std::wstring text = FormatMessageDefinition(L"Restart first: %1 and %2!s! stay.%nNext line");
    EXPECT_EQ(text, L"Restart first: %1 and %2!s! stay.\r\nNext line");
    const std::wstring wrapped = FormatMessageDefinition(std::wstring(30, L'a') + L" " + std::wstring(40, L'b'));
    EXPECT_EQ(wrapped, std::wstring(30, L'a') + L"\r\n" + std::wstring(40, L'b')) << "wrapped at 60";
    EXPECT_TRUE(FormatMessageDefinition(L"").empty());
}

TEST(PendingReboot, MissingModuleGivesAFixedText) {
    const std::wstring text = FormatPendingRebootText(nullptr);
    EXPECT_NE(text.find(L"restart"), std::wstring::npos);
}

TEST(PendingReboot, OnlyTheKeysExistenceCounts) {
    const wchar_t* key = kPendingRebootKey;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    EXPECT_FALSE(IsRebootPending());
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), 0);
    RegCloseKey(k);
    EXPECT_TRUE(IsRebootPending());
    EXPECT_TRUE(IsRebootPending()) << "checking does not remove it";
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    EXPECT_FALSE(IsRebootPending());
}

}  // namespace
