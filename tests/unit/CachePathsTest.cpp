#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "res/ProductIdentity.h"
#include "cache/CacheFolderGuard.h"
#include "cache/SourcePaths.h"
#include "diag/Logger.h"
#include "tests/support/Paths.h"
#include "tests/support/Product.h"
#include "tests/support/Registry.h"
#include "tests/support/TemporaryLog.h"

namespace {

using qxtest::KeyExists;

// The machine's common application-data folder, the cache's base.
std::wstring AppData() {
    const std::wstring path = qxtest::CommonAppData();
    EXPECT_NE(path, L"") << "the shell names no common application-data folder";
    return path;
}

std::wstring CachePath(const wchar_t* first, const wchar_t* second) {
    wchar_t buffer[MAX_PATH] = {};
    DWORD capacity = MAX_PATH;
    EXPECT_EQ(GetCachePath(buffer, capacity, first, second), 0u);
    return buffer;
}

DWORD Source(wchar_t* buffer, DWORD& capacity) { return GetSourcePath(buffer, capacity); }
DWORD Cache(wchar_t* buffer, DWORD& capacity) { return GetCachePath(buffer, capacity, kManufacturer, kProductName); }

TEST(SourcePath, IsTheProgramsFolderWithItsBackslash) {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder(module);
    folder.erase(folder.rfind(L'\\') + 1);
    wchar_t buffer[MAX_PATH];
    DWORD capacity = MAX_PATH;
    ASSERT_EQ(GetSourcePath(buffer, capacity), 0u);
    EXPECT_EQ(buffer, folder);
    EXPECT_EQ(capacity, static_cast<DWORD>(MAX_PATH)) << "only a too small capacity is changed";
}

TEST(CachePath, LevelsUnderAppDataEachSkippedWhenNull) {
    const std::wstring base = AppData();
    EXPECT_EQ(CachePath(L"Selkirk-Vane", L"QX Prism P4000 Series"), base + L"\\Selkirk-Vane\\QX Prism P4000 Series\\");
    EXPECT_EQ(CachePath(L"Selkirk-Vane", nullptr), base + L"\\Selkirk-Vane\\");
    EXPECT_EQ(CachePath(nullptr, nullptr), base + L"\\");
}

TEST(PathCodes, TooSmallCapacityGivesTheLengthAndLeavesTheBuffer) {
    for (auto get : {Source, Cache}) {
        wchar_t full[MAX_PATH];
        DWORD capacity = MAX_PATH;
        ASSERT_EQ(get(full, capacity), 0u);
        const DWORD length = static_cast<DWORD>(wcslen(full));
        ASSERT_GT(length, 10u);

        wchar_t buffer[MAX_PATH];
        for (auto& c : buffer) c = L'#';
        capacity = 10;
        EXPECT_EQ(get(buffer, capacity), 234u);
        EXPECT_EQ(capacity, length);
        for (wchar_t c : buffer) ASSERT_EQ(c, L'#');

        // Equal to the length: not "more data", but the terminator's place cuts the copy.
        EXPECT_EQ(get(buffer, capacity), 0u);
        EXPECT_EQ(std::wstring(buffer), std::wstring(full, length - 1));
        EXPECT_EQ(buffer[length], L'#') << "nothing past the capacity";
    }
}

TEST(PathCodes, NullBufferIsInvalidUnlessTheSizeCheckFailsFirst) {
    for (auto get : {Source, Cache}) {
        DWORD capacity = MAX_PATH;
        EXPECT_EQ(get(nullptr, capacity), 87u);
        EXPECT_EQ(capacity, static_cast<DWORD>(MAX_PATH));
        capacity = 1;
        EXPECT_EQ(get(nullptr, capacity), 234u);
        EXPECT_GT(capacity, 1u);
    }
}

TEST(PathCodes, EachOutcomeHasItsLogLine) {
    const qxtest::TemporaryLog log(L"unit-paths");
    wchar_t source[MAX_PATH], cache[MAX_PATH];
    DWORD capacity = MAX_PATH;
    Source(source, capacity);
    Cache(cache, capacity);
    for (auto get : {Source, Cache}) {
        wchar_t buffer[MAX_PATH];
        capacity = 1;
        get(buffer, capacity);
        capacity = MAX_PATH;
        get(nullptr, capacity);
    }
    CLogger::Instance().Reset();
    const std::string text = log.Bytes();
    auto narrow = [](const wchar_t* w) { return std::string(w, w + wcslen(w)); };
    for (const std::string& line :
         {std::string("In GetSourcePath"), "Out of GetSourcePath : " + narrow(source),
          std::string("Out of GetSourcePath : MORE DATA"), std::string("GetSourcePath : ERROR_INVALID_PARAMETER"),
          std::string("In GetCachePath"), "Out of GetCachePath : " + narrow(cache),
          std::string("Out of GetCachePath : MORE DATA"), std::string("GetCachePath : ERROR_INVALID_PARAMETER")})
        EXPECT_NE(text.find("\r\n" + line + "\r\n"), std::string::npos) << line;
}

// The record of the source folder, in the key the reader looks at.
class SourceRecordTest : public ::testing::Test {
protected:
    static constexpr wchar_t kMaker[] = L"SOFTWARE\\" QX_MANUFACTURER;
    static constexpr wchar_t kProducts[] = L"SOFTWARE\\" QX_MANUFACTURER L"\\Installed Products";
    static constexpr wchar_t kOtherMaker[] = L"SOFTWARE\\QX Unit Other Maker";

    void SetUp() override {
        hadMaker_ = KeyExists(HKEY_LOCAL_MACHINE, kMaker);
        hadProducts_ = KeyExists(HKEY_LOCAL_MACHINE, kProducts);
        qxtest::DeleteKey(HKEY_LOCAL_MACHINE, kSourceRecordKey);
    }
    void TearDown() override {
        qxtest::DeleteKey(HKEY_LOCAL_MACHINE, kSourceRecordKey);
        if (!hadProducts_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProducts);
        if (!hadMaker_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMaker);
        qxtest::DeleteKey(HKEY_LOCAL_MACHINE, kOtherMaker);
    }
    // Stores exactly bytes of data: a non-NUL byte after them keeps the
    // registry from adding a terminator of its own.
    static void Store(DWORD type, const void* data, DWORD bytes) {
        std::vector<BYTE> raw(bytes + 4, 0x41);
        if (bytes) memcpy(raw.data(), data, bytes);
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceRecordKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
        ASSERT_EQ(RegSetValueExW(key, L"SourcePath", 0, type, raw.data(), bytes), 0);
        DWORD stored = 0;
        RegQueryValueExW(key, L"SourcePath", nullptr, nullptr, nullptr, &stored);
        RegCloseKey(key);
        ASSERT_EQ(stored, bytes);
    }
    static void StoreText(const std::wstring& text) {
        Store(REG_SZ, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    }
    bool hadMaker_ = false, hadProducts_ = false;
};

TEST_F(SourceRecordTest, RoundTripStoresTheFolderWithoutTerminator) {
    // The folder the package came from, which need not be the launcher's.
    const std::wstring disc = L"E:\\Drivers\\QX Prism\\";
    EXPECT_EQ(GetCachedSourcePath(), L"") << "no record yet";
    EXPECT_EQ(CacheSourcePath(kManufacturer, kProductGuid, disc.c_str()), 0u);
    DWORD type = 0, bytes = 0;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceRecordKey, 0, KEY_QUERY_VALUE, &key), 0);
    EXPECT_EQ(RegQueryValueExW(key, L"SourcePath", nullptr, &type, nullptr, &bytes), 0);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, disc.size() * 2);
    EXPECT_EQ(GetCachedSourcePath(), disc);

    // A folder the record cannot hold whole is not cut to name another:
    // the record stays as it was.
    EXPECT_EQ(CacheSourcePath(kManufacturer, kProductGuid, (L"C:\\" + std::wstring(MAX_PATH, L'a')).c_str()), 0u);
    EXPECT_EQ(GetCachedSourcePath(), disc);

    StoreText(L"D:\\Setups\\x64\\");   // 14 characters in 28 bytes
    EXPECT_EQ(GetCachedSourcePath(), L"D:\\Setups\\x64\\");
}

TEST_F(SourceRecordTest, AnyLengthGivesATerminatedTextOfAtMost259) {
    StoreText(std::wstring(259, L'a'));
    EXPECT_EQ(GetCachedSourcePath(), std::wstring(259, L'a'));
    StoreText(std::wstring(260, L'b'));
    EXPECT_EQ(GetCachedSourcePath(), L"") << "520 bytes leave no room for a terminator";
    std::wstring padded = L"C:\\x\\";
    padded.resize(260, L'\0');
    StoreText(padded);
    EXPECT_EQ(GetCachedSourcePath(), L"C:\\x\\");
    StoreText(std::wstring(261, L'c'));
    EXPECT_EQ(GetCachedSourcePath(), L"") << "too big for the buffer";
    StoreText(std::wstring(2000, L'd'));
    EXPECT_EQ(GetCachedSourcePath(), L"");
    const char odd[] = "D\0:\0\\\0x\0\\\0Z";   // five characters and half of one
    Store(REG_SZ, odd, 11);
    EXPECT_EQ(GetCachedSourcePath(), L"D:\\x\\");
    Store(REG_SZ, "Q", 1);
    EXPECT_EQ(GetCachedSourcePath(), L"");
}

TEST_F(SourceRecordTest, OtherTypesAreReadAsTextWithinTheSameBounds) {
    const DWORD letters = 0x00420041;   // "AB"
    Store(REG_DWORD, &letters, 4);
    EXPECT_EQ(GetCachedSourcePath(), L"AB");
    const wchar_t multi[] = L"C:\\a\\\0C:\\b\\\0";
    Store(REG_MULTI_SZ, multi, sizeof multi);
    EXPECT_EQ(GetCachedSourcePath(), L"C:\\a\\");
    const std::vector<BYTE> full(520, 0x5A), big(600, 0x5A);
    Store(REG_BINARY, full.data(), 520);
    EXPECT_EQ(GetCachedSourcePath(), L"");
    Store(REG_BINARY, big.data(), 600);
    EXPECT_EQ(GetCachedSourcePath(), L"");
}

TEST_F(SourceRecordTest, WriterKeyFollowsThePackageReaderKeyIsFixed) {
    CacheSourcePath(L"QX Unit Other Maker", kProductGuid, L"D:\\x\\");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QX Unit Other Maker\\Installed Products\\{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}"));
    EXPECT_EQ(GetCachedSourcePath(), L"");
    CacheSourcePath(kManufacturer, L"{00000000-0000-0000-0000-000000000000}", L"D:\\x\\");
    EXPECT_EQ(GetCachedSourcePath(), L"");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE,
                  L"SOFTWARE\\Selkirk-Vane\\Installed Products\\{00000000-0000-0000-0000-000000000000}");
}

TEST(CacheFolderGuard, OnlyTheProductsOwnFolderPasses) {
    const std::wstring own = CachePath(kManufacturer, kProductName);
    std::wstring reason = L"stale";
    EXPECT_TRUE(ValidateCacheFolder(own.c_str(), kManufacturer, kProductName, &reason));
    EXPECT_EQ(reason, L"");
    std::wstring upper = own;
    for (auto& c : upper) c = towupper(c);
    EXPECT_TRUE(ValidateCacheFolder(upper.c_str(), kManufacturer, kProductName, nullptr));

    const std::wstring base = AppData() + L"\\";
    for (const std::wstring& other :
         {base, base + L"Selkirk-Vane\\", own.substr(0, own.size() - 1), own + L"sub\\", std::wstring(L"\\"),
          base + L"Selkirk-Vane\\..\\Selkirk-Vane\\QX Prism P4000 Series\\", base + L"Other\\QX Prism P4000 Series\\"}) {
        EXPECT_FALSE(ValidateCacheFolder(other.c_str(), kManufacturer, kProductName, &reason)) << other.size();
        EXPECT_NE(reason, L"");
    }
    EXPECT_FALSE(ValidateCacheFolder(nullptr, kManufacturer, kProductName, &reason));
}

TEST(CacheFolderGuard, OnlyTheProductsOwnIdentityNamesTheCache) {
    // Plain folder names, but another vendor's: its folder would be emptied.
    struct Case {
        const wchar_t* manufacturer;
        const wchar_t* product;
        bool passes;
    };
    const Case cases[] = {{L"selkirk-vane", L"qx prism p4000 series", true},
                          {L"SELKIRK-VANE", L"QX PRISM P4000 SERIES", true},
                          {L"Other Vendor", kProductName, false},
                          {kManufacturer, L"Other Product", false},
                          {L"Microsoft", L"Windows", false},
                          {L"Selkirk-Vane2", kProductName, false},
                          {kManufacturer, L"QX Prism P4000", false}};
    for (const Case& c : cases) {
        const std::wstring folder = AppData() + L"\\" + c.manufacturer + L"\\" + c.product + L"\\";
        std::wstring reason;
        EXPECT_EQ(ValidateCacheFolder(folder.c_str(), c.manufacturer, c.product, &reason), c.passes)
            << std::string(folder.begin(), folder.end());
        EXPECT_EQ(reason.empty(), c.passes);
    }
}

TEST(CacheFolderGuard, HostileLevelsAreRefusedWhateverThePathSays) {
    const std::wstring longName(255, L'n');
    const wchar_t* hostile[] = {L"",    L".",    L"..",  L"a\\b", L"a/b", L"C:",     L"C:\\abs",       longName.c_str(),
                                nullptr, L"a:b", L"x.", L"x ",   L"a*b", L"a\x01z", L"NUL",  L"com1.txt"};
    const std::wstring base = AppData() + L"\\";
    for (const wchar_t* level : hostile) {
        const std::wstring shown = level ? level : L"(null)";
        SCOPED_TRACE(std::string(shown.begin(), shown.end()).substr(0, 20));
        const std::wstring text = level ? level : L"";
        for (bool first : {true, false}) {
            const wchar_t* m = first ? level : kManufacturer;
            const wchar_t* p = first ? kProductName : level;
            std::wstring reason;
            // Both what the shell's joining makes of the level and the plain text.
            const std::wstring joined = CachePath(m, p);
            const std::wstring plain = base + (first ? text : L"Selkirk-Vane") + L"\\" +
                                       (first ? L"QX Prism P4000 Series" : text) + L"\\";
            EXPECT_FALSE(ValidateCacheFolder(joined.c_str(), m, p, &reason));
            EXPECT_NE(reason, L"");
            EXPECT_FALSE(ValidateCacheFolder(plain.c_str(), m, p, &reason));
        }
    }
}

// Makes the common application-data lookup fail for real, and puts back
// exactly what the shell's two keys held.
class FailedAppDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& s : saved_) s.value = qxtest::ReadValue(HKEY_LOCAL_MACHINE, s.key, qxtest::kCommonAppDataValue);
        const wchar_t missing[] = L"C:\\qxtest-unit\\no-such-folder\\ProgramData";
        ASSERT_TRUE(qxtest::SetValue(HKEY_LOCAL_MACHINE, saved_[0].key, qxtest::kCommonAppDataValue, REG_SZ, missing,
                                     sizeof missing));
    }
    void TearDown() override {
        for (const auto& s : saved_) {
            if (s.value.present)
                qxtest::SetValue(HKEY_LOCAL_MACHINE, s.key, qxtest::kCommonAppDataValue, s.value.type,
                                 s.value.data.data(), static_cast<DWORD>(s.value.data.size()));
            else
                qxtest::DeleteValue(HKEY_LOCAL_MACHINE, s.key, qxtest::kCommonAppDataValue);
        }
    }
    struct Saved {
        const wchar_t* key;
        qxtest::RegistryValue value;
    };
    Saved saved_[2] = {{qxtest::kUserShellFoldersKey, {}}, {qxtest::kShellFoldersKey, {}}};
};

TEST_F(FailedAppDataTest, CachePathIsTheBareBackslashAndNothingPasses) {
    ASSERT_TRUE(saved_[0].value.present);
    const std::wstring before =
        L"C:\\qxtest-unit\\no-such-folder\\ProgramData\\Selkirk-Vane\\QX Prism P4000 Series\\";
    wchar_t probe[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, probe),
              static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(CachePath(kManufacturer, kProductName), L"\\");
    std::wstring reason;
    EXPECT_FALSE(ValidateCacheFolder(L"\\", kManufacturer, kProductName, &reason));
    EXPECT_NE(reason, L"");
    EXPECT_FALSE(ValidateCacheFolder(before.c_str(), kManufacturer, kProductName, &reason));
}

}  // namespace
