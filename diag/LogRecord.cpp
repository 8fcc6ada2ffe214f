#include "diag/LogRecord.h"

#include <cstdio>

namespace qx {

std::string FormatLogTime(const SYSTEMTIME& t) {
    char line[80];
    std::snprintf(line, sizeof line, "TIME: %d-%d-%d %d:%d:%d:%d\n", t.wMonth, t.wDay, t.wYear,
                  t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return line;
}

std::string ToLogBytes(const wchar_t* text) {
    std::string out;
    if (!text) return out;
    for (const wchar_t* p = text; *p; ++p)
        out.push_back(*p <= 0xFF ? static_cast<char>(static_cast<unsigned char>(*p)) : '?');
    return out;
}

std::string FormatLogRecord(const char* headerWord, const SYSTEMTIME& utc, const wchar_t* text) {
    std::string record = "________________________________________\n";
    record += "LOG TYPE: ";
    record += headerWord;
    record += "\n";
    record += FormatLogTime(utc);
    record += ToLogBytes(text);
    record += "\n";
    return record;
}

}  // namespace qx
