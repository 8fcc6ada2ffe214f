#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "diag/LogSetup.h"
#include "diag/Logger.h"
#include "res/ProductIdentity.h"
#include "tests/support/Paths.h"
#include "tests/support/Registry.h"
#include "tests/support/Text.h"

namespace {

using qxtest::Narrow;

class LogSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        qxtest::DeleteKey(HKEY_LOCAL_MACHINE, kLogLevelKey);
        CLogger::Instance().Reset();
    }
    void TearDown() override {
        qxtest::DeleteKey(HKEY_LOCAL_MACHINE, kLogLevelKey);
        CLogger::Instance().Reset();
    }
    static void SetLevelValue(DWORD type, const void* data, DWORD size) {
        ASSERT_TRUE(qxtest::SetValue(HKEY_LOCAL_MACHINE, kLogLevelKey, kLogLevelValue, type, data, size));
    }
};

TEST_F(LogSetupTest, PathIsAFreshNameInTheProductFolderUnderTemp) {
    const std::wstring folder = qxtest::LogFolder();

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
