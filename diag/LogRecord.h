#pragma once
// The text form of one log record: four lines, 8-bit text.
#include <windows.h>
#include <string>

namespace qx {

// "TIME: month-day-year hour:minute:second:milliseconds\n", no leading zeros.
std::string FormatLogTime(const SYSTEMTIME& utc);

// Wide text to the file's 8-bit form: characters up to U+00FF become the
// byte of the same value, any other character a '?'.
std::string ToLogBytes(const wchar_t* text);

// Separator, type line, time line and text, each ended by a line feed.
std::string FormatLogRecord(const char* headerWord, const SYSTEMTIME& utc, const wchar_t* text);

}  // namespace qx
