#include "diag/Logger.h"

#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include "diag/LogRecord.h"
#include "framework/BoundedText.h"
#include "framework/FileLinks.h"
#include "framework/Ownership.h"

namespace {

struct TypeSlot {
    unsigned bit;
    const char* word;
};

// The order in which a multi-bit type is written.
constexpr TypeSlot kTypes[] = {
    {LOGTYPE_ERROR, "ERROR"},     {LOGTYPE_EXCEPTION, "EXCEPTION"},
    {LOGTYPE_WARNING, "WARNING"}, {LOGTYPE_MESSAGE, "MESSAGE"},
    {LOGTYPE_INFORMATION, "INFORMATION"}, {LOGTYPE_TRACE, "TRACE"},
};

int SlotOf(unsigned bit) {
    for (int i = 0; i < 6; ++i)
        if (kTypes[i].bit == bit) return i;
    return -1;
}

// Opens the log for reading and appending in text mode, created when
// missing. Exclusive share mode: no other writer, in any process, has the
// file open at the same time. Never through a link: a link at the file's
// name, or a file that resolves anywhere but at its own path, is not used.
FILE* OpenLogFile(const wchar_t* path) {
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    qx::UniqueHandle file(
        CreateFileW(path, access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // A new file never takes the place of anything, a dangling link included.
    if (!file && GetLastError() == ERROR_FILE_NOT_FOUND)
        file.reset(CreateFileW(path, access, 0, nullptr, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    bool isFolder = true;
    if (!file || qx::CheckEntry(file.get(), path, &isFolder) != qx::EntryCheck::kItself || isFolder) return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_APPEND | _O_TEXT);
    if (descriptor < 0) return nullptr;
    file.release();   // the descriptor owns it now
    FILE* stream = _fdopen(descriptor, "a+");
    if (!stream) _close(descriptor);
    return stream;
}

bool AppendRecord(const wchar_t* path, const char* word, const wchar_t* text) {
    FILE* file = OpenLogFile(path);
    if (!file) return false;
    SYSTEMTIME now;
    GetSystemTime(&now);
    const std::string record = qx::FormatLogRecord(word, now, text);
    bool ok = std::fwrite(record.data(), 1, record.size(), file) == record.size();
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

void LogWithType(unsigned type, const wchar_t* format, va_list args) {
    if (!format) return;
    wchar_t text[kMaxLogText + 1];
    int n = qx::BoundedFormatV(text, kMaxLogText + 1, format, args);
    if (n < 0) return;  // would need more than 255 characters: dropped whole
    CLogger& logger = CLogger::Instance();
    if (logger.Level() & type) logger.Write(text, type);
}

}  // namespace

CLogger& CLogger::Instance() {
    static CLogger logger;
    return logger;
}

void CLogger::SetLogFile(const wchar_t* path) {
    for (auto& slot : m_szPaths) qx::BoundedCopy(slot, kMaxLogText + 1, path);
}

void CLogger::AddLevel(DWORD level) { m_dwLevel |= level; }

const wchar_t* CLogger::LogFile(unsigned type) const {
    int i = SlotOf(type);
    return i < 0 ? L"" : m_szPaths[i];
}

void CLogger::Reset() {
    m_dwLevel = 0;
    for (auto& slot : m_szPaths) slot[0] = L'\0';
}

bool CLogger::Write(const wchar_t* text, unsigned type) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kLogMutexName);
    if (!mutex) return false;

    bool owned = false;
    bool proceed = false;
    DWORD wait = MsgWaitForMultipleObjectsEx(1, &mutex, kLogMutexWaitMs, QS_ALLINPUT, 0);
    if (wait == WAIT_OBJECT_0) {
        owned = proceed = true;
    } else if (wait == WAIT_OBJECT_0 + 1) {
        // Input arrived for this thread: go on without the mutex. The file's
        // exclusive share mode still keeps two writers apart.
        proceed = true;
    } else if (wait == WAIT_ABANDONED_0) {
        // The previous owner died holding it. The wait made us the owner; give
        // it up again at once so no thread keeps an abandoned mutex, and drop
        // this record as its file may be in an unknown state.
        ReleaseMutex(mutex);
    }

    bool written = false;
    if (proceed) {
        for (int i = 0; i < kTypeCount; ++i) {
            if (!(type & kTypes[i].bit)) continue;
            if (m_szPaths[i][0] == L'\0') continue;
            written = AppendRecord(m_szPaths[i], kTypes[i].word, text) || written;
        }
    }

    if (owned) ReleaseMutex(mutex);
    CloseHandle(mutex);
    return written;
}

void LogTrace(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    LogWithType(LOGTYPE_TRACE, format, args);
    va_end(args);
}

void LogError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    LogWithType(LOGTYPE_ERROR, format, args);
    va_end(args);
}
