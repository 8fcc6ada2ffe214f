#pragma once
// The launcher's log as the tests read it: its folder, its files, and the
// one parser of its records ("____" line, "LOG TYPE: X", "TIME: M-D-Y
// h:m:s:ms", the text; every line ending in CRLF).
#include <string>
#include <vector>

namespace qxtest {

struct LogRecord {
    std::string type;   // the header word
    std::string time;   // the time line without "TIME: "
    std::string text;   // the text, its own line breaks as CRLF
};

// Splits a log's bytes into records; wellFormed is false when any part of
// the bytes is not a whole record of that shape (the records before it are
// returned).
std::vector<LogRecord> ParseLog(const std::string& bytes, bool* wellFormed);
// The texts of the records in bytes, of one type or of all; fails the test
// when the bytes are not whole records.
std::vector<std::string> LogTextsIn(const std::string& bytes, const std::string& type = "");

// The launcher's log files in its log folder (the installer's verbose logs
// beside them left out), and removing every file there.
std::vector<std::wstring> LogFiles();
void ClearLogs();
// The texts of all records of the one log file of the last run (fails the
// test when there is more than one file or it is not whole records).
std::vector<std::string> LogTexts(const std::string& type = "");
// Every record of every log file, in file order per file; wellFormed is set
// false when any file holds anything but whole records.
std::vector<LogRecord> AllLogRecords(bool* wellFormed);
size_t CountText(const std::vector<LogRecord>& records, const std::string& text);
// A text as a record stores it: each of its line feeds as CRLF.
std::string Crlf(const std::string& text);

}  // namespace qxtest
