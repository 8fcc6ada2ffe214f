#include <gtest/gtest.h>

#include "diag/LogRecord.h"

namespace {

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
    SYSTEMTIME t = {};
    t.wYear = y;
    t.wMonth = mo;
    t.wDay = d;
    t.wHour = h;
    t.wMinute = mi;
    t.wSecond = s;
    t.wMilliseconds = ms;
    return t;
}

TEST(LogRecord, TimeLineHasNoLeadingZeros) {
    EXPECT_EQ(qx::FormatLogTime(Time(2026, 12, 7, 9, 5, 3, 42)), "TIME: 12-7-2026 9:5:3:42\n");
    EXPECT_EQ(qx::FormatLogTime(Time(2027, 1, 31, 0, 0, 0, 0)), "TIME: 1-31-2027 0:0:0:0\n");
    EXPECT_EQ(qx::FormatLogTime(Time(2026, 10, 10, 23, 59, 59, 999)), "TIME: 10-10-2026 23:59:59:999\n");
}

TEST(LogRecord, RecordIsSeparatorTypeTimeAndText) {
    EXPECT_EQ(qx::FormatLogRecord("TRACE", Time(2026, 12, 7, 9, 5, 3, 42), L"Inside QXVSetup.exe"),
              "________________________________________\n"
              "LOG TYPE: TRACE\n"
              "TIME: 12-7-2026 9:5:3:42\n"
              "Inside QXVSetup.exe\n");
    // Line feeds inside the text are kept as they are.
    EXPECT_EQ(qx::FormatLogRecord("ERROR", Time(2026, 1, 2, 3, 4, 5, 6), L"a\n b\nc"),
              "________________________________________\nLOG TYPE: ERROR\nTIME: 1-2-2026 3:4:5:6\na\n b\nc\n");
}

TEST(LogRecord, TextIsStoredAsEightBitBytes) {
    EXPECT_EQ(qx::ToLogBytes(L"C:\\Users\\J\u00f6rg"), "C:\\Users\\J\xf6rg");
    EXPECT_EQ(qx::ToLogBytes(L"\u00ff\u0100"), "\xff?");
    // A character without an 8-bit form costs only itself, not the rest.
    EXPECT_EQ(qx::ToLogBytes(L"price \u20ac 5, done"), "price ? 5, done");
    EXPECT_EQ(qx::ToLogBytes(nullptr), "");
}

}  // namespace
