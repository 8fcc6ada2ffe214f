#include "diag/Logger.h"

#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include <string>

#include "diag/LogRecord.h"
#include "framework/BoundedText.h"
#include "framework/FileLinks.h"
#include "framework/ReleasePins.h"
#include "framework/FileSignature.h"
#include "framework/Ownership.h"
#include "framework/SecurityDescriptors.h"
#include "framework/SystemMessage.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"

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
    // A second name of the file (a hard link) could make it any file.
    FILE_STANDARD_INFO standard = {};
    if (!GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) ||
        standard.NumberOfLinks != 1)
        return nullptr;
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

namespace {

// Who may use the logging mutex: SYSTEM, administrators and the user who
// made it fully; anyone else only to wait for it and release it, which every
// writer of the log needs (another user's launcher, a writer that is not
// elevated) and nothing more: no one else can change its security or
// delete it. Built once; kept to the end of the process.
const SECURITY_ATTRIBUTES* LogMutexAttributes() {
    static const qx::UniqueLocal descriptor = [] {
        std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
        const std::wstring user = qx::SidText(qx::CurrentUserSid());
        if (!user.empty()) sddl += L"(A;;GA;;;" + user + L")";
        sddl += L"(A;;0x00100001;;;WD)";   // SYNCHRONIZE | MUTEX_MODIFY_STATE
        return qx::DescriptorFromSddl(sddl);
    }();
    static const SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    return descriptor ? &attributes : nullptr;
}

// Whether a record of this process was dropped because the mutex stayed
// taken. Kept in the process's local atom table rather than in a variable:
// the install-actions module has a logger of its own, and a program holding
// the mutex should cost the whole process one wait, not one per module.
constexpr wchar_t kMutexStuckAtom[] = L"QX log mutex not let go";

bool MutexStuck() { return FindAtomW(kMutexStuckAtom) != 0; }

void SetMutexStuck(bool stuck) {
    if (stuck) {
        if (!MutexStuck()) AddAtomW(kMutexStuckAtom);
        return;
    }
    for (ATOM atom; (atom = FindAtomW(kMutexStuckAtom)) != 0;)
        if (DeleteAtom(atom) != 0) break;
}

}  // namespace

bool CLogger::Write(const wchar_t* text, unsigned type) {
    // Only what a writer needs, so a mutex another writer made is opened
    // under the rights its descriptor gives everyone.
    const qx::UniqueHandle mutex(CreateMutexExW(const_cast<SECURITY_ATTRIBUTES*>(LogMutexAttributes()), kLogMutexName,
                                                0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!mutex) return false;

    // After a record was dropped for a time-out the mutex is taken to be held
    // by someone who does not let go: later records only try for it, until it
    // is seen free again. A program holding it costs about one wait in all,
    // not one a record.
    const DWORD timeout = MutexStuck() ? 0 : kLogMutexWaitMs;
    const HANDLE handles[] = {mutex.get()};
    bool owned = false;
    bool proceed = false;
    DWORD wait = MsgWaitForMultipleObjectsEx(1, handles, timeout, QS_ALLINPUT, 0);
    if (wait == WAIT_OBJECT_0) {
        owned = proceed = true;
        SetMutexStuck(false);
    } else if (wait == WAIT_OBJECT_0 + 1) {
        // Input arrived for this thread: go on without the mutex. The file's
        // exclusive share mode still keeps two writers apart.
        proceed = true;
    } else if (wait == WAIT_ABANDONED_0) {
        // The previous owner died holding it. The wait made us the owner; give
        // it up again at once so no thread keeps an abandoned mutex, and drop
        // this record as its file may be in an unknown state.
        qx::MutexGuard giveBack(mutex.get());
        SetMutexStuck(false);
    } else if (wait == WAIT_TIMEOUT) {
        SetMutexStuck(true);
    }
    qx::MutexGuard release(owned ? mutex.get() : nullptr);

    bool written = false;
    if (proceed) {
        for (int i = 0; i < kTypeCount; ++i) {
            if (!(type & kTypes[i].bit)) continue;
            if (m_szPaths[i][0] == L'\0') continue;
            written = AppendRecord(m_szPaths[i], kTypes[i].word, text) || written;
        }
    }
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

void LogErrorText(const wchar_t* text) {
    if (!text) return;
    std::wstring rest;
    for (const wchar_t* p = text; *p; ++p)
        if (*p != L'\r') rest.push_back(*p);
    while (!rest.empty() && rest.back() == L'\n') rest.pop_back();
    while (!rest.empty()) {
        size_t cut = rest.size();
        size_t next = cut;
        if (cut > kMaxLogText) {
            const size_t lineEnd = rest.rfind(L'\n', kMaxLogText);
            cut = (lineEnd != std::wstring::npos && lineEnd > 0) ? lineEnd : kMaxLogText;
            next = rest[cut] == L'\n' ? cut + 1 : cut;
        }
        LogError(L"%s", rest.substr(0, cut).c_str());
        rest.erase(0, next);
    }
}

std::wstring RefusalReason(HRESULT result, qx::TextFor reader, HMODULE resModule) {
    std::wstring text = qx::SystemMessage(static_cast<DWORD>(result));
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    if (!text.empty()) return text;
    unsigned id = kIdsReasonUnknown;
    switch (result) {
        case qx::kSignatureMissing: id = kIdsReasonUnsigned; break;
        case qx::kSignatureBadDigest: id = kIdsReasonChanged; break;
        case qx::kSignerNotOurs: id = kIdsReasonNotOurs; break;
        default: break;
    }
    return qx::LocalizedText(resModule, id, EnglishFallbackText(id), {}, reader);
}

void LogRefusal(const wchar_t* path, HRESULT result) {
    wchar_t code[16] = {};
    qx::BoundedFormat(code, 16, L"0x%08X", static_cast<unsigned>(result));
    std::wstring record;
    if (result == qx::kNotThisRelease) {
        // Both versions, so whoever reads the log knows which release the file came from.
        const std::wstring version = qx::FileVersionOf(path);
        record = L"File refused, not of this release (";
        record += kProductVersion;
        record += L"): ";
        record += path ? path : L"";
        record += L"\n File version: ";
        record += version.empty() ? L"none" : version;
    } else if (result == qx::kSignatureExpired) {
        // Its certificate has expired and no timestamp from within its
        // validity vouches for the signature.
        record = L"File refused, signature expired: ";
        record += path ? path : L"";
    } else if (qx::CouldNotBeChecked(result)) {
        // Not even opened for its check (another program holds it with
        // delete access, say): the system's text says why.
        record = L"File refused, it could not be checked: ";
        record += path ? path : L"";
    } else {
        record = L"File refused, not signed as this program is: ";
        record += path ? path : L"";
    }
    record += L"\n Code: ";
    record += code;
    record += L"\nMsg: ";
    record += RefusalReason(result);
    LogErrorText(record.c_str());
}
