#include "tests/support/Log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "framework/Ownership.h"
#include "tests/support/Files.h"
#include "tests/support/Paths.h"

namespace qxtest {

namespace {

// The time line's shape: month-day-year hour:minute:second:millisecond,
// without leading zeros.
bool IsLogTime(const std::string& time) {
    static constexpr struct {
        size_t minDigits, maxDigits;
        char after;
    } kFields[] = {{1, 2, '-'}, {1, 2, '-'}, {4, 4, ' '}, {1, 2, ':'}, {1, 2, ':'}, {1, 2, ':'}, {1, 3, '\0'}};
    size_t at = 0;
    for (const auto& field : kFields) {
        size_t digits = 0;
        while (at + digits < time.size() && std::isdigit(static_cast<unsigned char>(time[at + digits]))) ++digits;
        if (digits < field.minDigits || digits > field.maxDigits) return false;
        at += digits;
        if (field.after == '\0') return at == time.size();
        if (at >= time.size() || time[at] != field.after) return false;
        ++at;
    }
    return false;
}

bool IsTypeWord(const std::string& type) {
    return !type.empty() &&
           std::all_of(type.begin(), type.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// Every file of the log folder; the installer's verbose logs lie there too.
std::vector<std::wstring> FilesInLogFolder() {
    std::vector<std::wstring> files;
    const std::wstring folder = LogFolder();
    WIN32_FIND_DATAW fd;
    const qx::UniqueFind search(FindFirstFileW((folder + L"*").c_str(), &fd));
    if (!search) return files;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + fd.cFileName);
    } while (FindNextFileW(search.get(), &fd));
    return files;
}

}  // namespace

std::vector<LogRecord> ParseLog(const std::string& bytes, bool* wellFormed) {
    static const std::string kSep = std::string(40, '_') + "\r\n";
    std::vector<LogRecord> records;
    bool ok = true;
    size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes.compare(pos, kSep.size(), kSep) != 0) {
            ok = false;
            break;
        }
        pos += kSep.size();
        const size_t next = bytes.find(kSep, pos);
        const std::string body = bytes.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        pos = next == std::string::npos ? bytes.size() : next;
        const size_t l1 = body.find("\r\n");
        const size_t l2 = l1 == std::string::npos ? l1 : body.find("\r\n", l1 + 2);
        if (l2 == std::string::npos || body.compare(0, 10, "LOG TYPE: ") != 0 ||
            body.compare(l1 + 2, 6, "TIME: ") != 0 || body.size() < l2 + 4 ||
            body.compare(body.size() - 2, 2, "\r\n") != 0) {
            ok = false;
            break;
        }
        LogRecord r;
        r.type = body.substr(10, l1 - 10);
        r.time = body.substr(l1 + 8, l2 - l1 - 8);
        r.text = body.substr(l2 + 2, body.size() - l2 - 4);
        if (!IsTypeWord(r.type) || !IsLogTime(r.time)) {
            ok = false;
            break;
        }
        records.push_back(r);
    }
    if (wellFormed) *wellFormed = ok;
    return records;
}

std::vector<std::string> LogTextsIn(const std::string& bytes, const std::string& type) {
    bool ok = false;
    std::vector<std::string> texts;
    for (const auto& r : ParseLog(bytes, &ok))
        if (type.empty() || r.type == type) texts.push_back(r.text);
    EXPECT_TRUE(ok) << "the log holds only whole records:\n" << bytes.substr(0, 4000);
    return texts;
}

std::vector<std::wstring> LogFiles() {
    std::vector<std::wstring> logs;
    const std::wstring installerLog = L".msi.log";
    for (const auto& f : FilesInLogFolder()) {
        const bool isInstallerLog = f.size() > installerLog.size() &&
                                    _wcsicmp(f.c_str() + f.size() - installerLog.size(), installerLog.c_str()) == 0;
        if (!isInstallerLog) logs.push_back(f);
    }
    return logs;
}

void ClearLogs() {
    // A link in the log folder's place is a test's attack: its target is
    // not the tests' to clear.
    std::wstring folder = LogFolder();
    folder.pop_back();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    for (const auto& f : FilesInLogFolder()) DeleteFileW(f.c_str());
}

std::vector<std::string> LogTexts(const std::string& type) {
    const auto files = LogFiles();
    EXPECT_LE(files.size(), 1u) << "one run writes one log file";
    if (files.empty()) return {};
    return LogTextsIn(ReadBytes(files[0]), type);
}

std::vector<LogRecord> AllLogRecords(bool* wellFormed) {
    std::vector<LogRecord> all;
    bool ok = true;
    for (const auto& file : LogFiles()) {
        bool fileOk = false;
        const auto records = ParseLog(ReadBytes(file), &fileOk);
        ok = ok && fileOk;
        all.insert(all.end(), records.begin(), records.end());
    }
    if (wellFormed) *wellFormed = ok;
    return all;
}

size_t CountText(const std::vector<LogRecord>& records, const std::string& text) {
    return static_cast<size_t>(
        std::count_if(records.begin(), records.end(), [&](const LogRecord& r) { return r.text == text; }));
}

std::string Crlf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace qxtest
