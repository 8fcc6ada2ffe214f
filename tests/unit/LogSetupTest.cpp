#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "diag/LogSetup.h"
#include "diag/Logger.h"
#include "res/ProductIdentity.h"

namespace {

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

class LogSetupTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLogLevelKey); CLogger::Instance().Reset(); }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLogLevelKey); CLogger::Instance().Reset(); }
    static void SetLevelValue(DWORD type, const void* data, DWORD size) {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLogLevelKey, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), 0);
        ASSERT_EQ(RegSetValueExW(k, kLogLevelValue, 0, type, static_cast<const BYTE*>(data), size), 0);
        RegCloseKey(k);
    }
};

TEST_F(LogSetupTest, PathIsAFreshNameInTheProductFolderUnderTemp) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}\\";

    wchar_t first[MAX_PATH] = {};
    InitializeLog(first);
    wchar_t second[MAX_PATH] = {};
    InitializeLog(second);
    const std::wstring a(first), b(second);
    ASSERT_EQ(a.rfind(folder, 0), 0u) << Narrow(a);
    EXPECT_TRUE(std::regex_match(Narrow(a.substr(folder.size())), std::regex("~qx[0-9a-fA-F]{1,4}\\.log")));
    EXPECT_NE(a, b) << "each set-up picks its own name";
    EXPECT_EQ(GetFileAttributesW(a.c_str()), INVALID_FILE_ATTRIBUTES) << "created by its first record";
    std::wstring tmp = a.substr(0, a.size() - 3) + L"tmp";
    EXPECT_EQ(GetFileAttributesW(tmp.c_str()), INVALID_FILE_ATTRIBUTES) << "the placeholder is removed";
    EXPECT_STREQ(CLogger::Instance().LogFile(LOGTYPE_ERROR), second);
    EXPECT_STREQ(CLogger::Instance().LogFile(LOGTYPE_TRACE), second);
}

TEST_F(LogSetupTest, LevelValueOfAnyTypeAndSize) {
    EXPECT_EQ(ReadLogLevel(), 126u) << "no key";
    DWORD two = 2;
    SetLevelValue(REG_DWORD, &two, 4);
    EXPECT_EQ(ReadLogLevel(), 2u);
    DWORD zero = 0;
    SetLevelValue(REG_DWORD, &zero, 4);
    EXPECT_EQ(ReadLogLevel(), 0u);
    unsigned char bytes4[4] = {0x10, 0, 0, 0};
    SetLevelValue(REG_BINARY, bytes4, 4);
    EXPECT_EQ(ReadLogLevel(), 16u) << "the type is not looked at";
    unsigned long long q = 2;
    SetLevelValue(REG_QWORD, &q, 8);
    EXPECT_EQ(ReadLogLevel(), 126u) << "more than 4 bytes";
    SetLevelValue(REG_SZ, L"16", 6);
    EXPECT_EQ(ReadLogLevel(), 126u);
    SetLevelValue(REG_BINARY, bytes4, 0);
    EXPECT_EQ(ReadLogLevel(), 0u) << "an empty value reads as zero";
    SetLevelValue(REG_BINARY, bytes4, 2);
    EXPECT_EQ(ReadLogLevel(), 16u) << "a short value fills the low bytes";
}

TEST_F(LogSetupTest, InitializeOrsTheLevelIntoTheMask) {
    DWORD sixteen = 16;
    SetLevelValue(REG_DWORD, &sixteen, 4);
    wchar_t path[MAX_PATH] = {};
    InitializeLog(path);
    EXPECT_EQ(CLogger::Instance().Level(), 16u) << "the value read, not the default beside it";
    // Bits already in the mask stay: the level is added, not put in their place.
    CLogger::Instance().Reset();
    CLogger::Instance().AddLevel(LOGTYPE_ERROR);
    InitializeLog(path);
    EXPECT_EQ(CLogger::Instance().Level(), 0x12u);
}

}  // namespace
