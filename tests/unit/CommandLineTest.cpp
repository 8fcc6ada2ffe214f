#include <gtest/gtest.h>

#include <string>

#include "framework/CommandLine.h"

namespace {

using qx::ArgumentTail;

TEST(ArgumentTail, ProgramNameEndsAtFirstBlankOrControlOutsideQuotes) {
    EXPECT_STREQ(ArgumentTail(L"C:\\a\\QXVSetup64.exe CALLER=SETUP"), L"CALLER=SETUP");
    EXPECT_STREQ(ArgumentTail(L"\"C:\\my dir\\QXVSetup64.exe\" CALLER=SETUP"), L"CALLER=SETUP");
    EXPECT_STREQ(ArgumentTail(L"prog\tX"), L"X");
    EXPECT_STREQ(ArgumentTail(L"prog\x01X"), L"X");
    // A quote inside the name switches quoting just the same.
    EXPECT_STREQ(ArgumentTail(L"C:\\a\"b c\"d.exe tail"), L"tail");
}

TEST(ArgumentTail, BlanksAndControlsAfterTheNameAreSkippedOnlyThere) {
    EXPECT_STREQ(ArgumentTail(L"prog  \t\r\n  A  B  "), L"A  B  ");
    EXPECT_STREQ(ArgumentTail(L"prog"), L"");
    EXPECT_STREQ(ArgumentTail(L"prog    "), L"");
    EXPECT_STREQ(ArgumentTail(L""), L"");
    EXPECT_STREQ(ArgumentTail(nullptr), L"");
}

TEST(ArgumentTail, UnbalancedQuoteMakesTheWholeLineTheName) {
    EXPECT_STREQ(ArgumentTail(L"\"C:\\dir\\QXVSetup64.exe CALLER=SETUP"), L"");
    EXPECT_STREQ(ArgumentTail(L"\"\" rest"), L"rest");
}

TEST(ArgumentTail, LongLinesArePointedIntoNotCopied) {
    std::wstring line = L"prog " + std::wstring(32000, L'x');
    const wchar_t* tail = ArgumentTail(line.c_str());
    EXPECT_EQ(tail, line.c_str() + 5);
    EXPECT_EQ(std::wstring(tail).size(), 32000u);
}

}  // namespace
