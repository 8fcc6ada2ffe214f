#include <gtest/gtest.h>

#include <string>

#include "framework/BoundedText.h"

namespace {

TEST(BoundedText, CopyAndAppendCutToFitAndStayTerminated) {
    wchar_t buf[8];
    for (auto& c : buf) c = L'#';
    EXPECT_FALSE(qx::BoundedCopy(buf, 5, L"abcdefgh"));
    EXPECT_STREQ(buf, L"abcd");
    EXPECT_EQ(buf[5], L'#') << "nothing written past the capacity";

    EXPECT_TRUE(qx::BoundedCopy(buf, 8, L"ab"));
    EXPECT_TRUE(qx::BoundedAppend(buf, 8, L"cd"));
    EXPECT_STREQ(buf, L"abcd");
    EXPECT_FALSE(qx::BoundedAppend(buf, 8, L"efghij"));
    EXPECT_STREQ(buf, L"abcdefg");
    EXPECT_FALSE(qx::BoundedAppend(buf, 8, L"x"));
    EXPECT_STREQ(buf, L"abcdefg");

    EXPECT_TRUE(qx::BoundedCopy(buf, 8, nullptr));
    EXPECT_STREQ(buf, L"");
    EXPECT_FALSE(qx::BoundedCopy(nullptr, 8, L"a"));
}

TEST(BoundedText, AppendToAnUnterminatedBufferTerminatesIt) {
    wchar_t buf[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_FALSE(qx::BoundedAppend(buf, 4, L"e"));
    EXPECT_STREQ(buf, L"abc");
}

TEST(BoundedText, FormatTakesWideStringsAndReportsWhatDoesNotFit) {
    wchar_t buf[16];
    EXPECT_EQ(qx::BoundedFormat(buf, 16, L"[%s|%d]", L"wide", -7), 9);
    EXPECT_STREQ(buf, L"[wide|-7]");
    // Exactly full (15 characters and the terminator) fits; one more does not.
    EXPECT_EQ(qx::BoundedFormat(buf, 16, L"%s", L"123456789012345"), 15);
    EXPECT_STREQ(buf, L"123456789012345");
    EXPECT_EQ(qx::BoundedFormat(buf, 16, L"%s", L"1234567890123456"), -1);
    EXPECT_EQ(std::wstring(buf).size(), 15u);
    EXPECT_EQ(qx::BoundedFormat(buf, 16, L"100%%"), 4);
    EXPECT_STREQ(buf, L"100%");
}

}  // namespace
