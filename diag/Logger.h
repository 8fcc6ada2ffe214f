#pragma once
// The installation log. One process-wide logger; records are serialised
// across threads and processes by a global named mutex, and each record
// opens, appends to and closes the file, so nothing is ever buffered.
#include <windows.h>

#include <string>

#include "framework/ResourceText.h"

enum LogType : unsigned {
    LOGTYPE_ERROR = 0x02,
    LOGTYPE_EXCEPTION = 0x04,
    LOGTYPE_INFORMATION = 0x08,
    LOGTYPE_TRACE = 0x10,
    LOGTYPE_WARNING = 0x20,
    LOGTYPE_MESSAGE = 0x40,
};

constexpr DWORD kDefaultLogLevel = 0x7E;           // all six record types
constexpr size_t kMaxLogText = 255;                // longer texts are dropped
constexpr DWORD kLogMutexWaitMs = 1000;

class CLogger {
public:
    static CLogger& Instance();

    // Every type's file is set to path, cut to 255 characters.
    void SetLogFile(const wchar_t* path);
    // The level is OR-ed into the mask, which starts at 0.
    void AddLevel(DWORD level);
    DWORD Level() const { return m_dwLevel; }
    const wchar_t* LogFile(unsigned type) const;

    // Writes one record for each type bit set in type, within one hold of
    // the mutex. After a record of the process was dropped because the
    // mutex stayed taken for the whole wait, later records only try for it
    // (no wait) until it is had again. Returns true when at least one record reached a file;
    // callers in the launcher ignore it.
    bool Write(const wchar_t* text, unsigned type);

    // Back to the state before set-up (for tests).
    void Reset();

private:
    static constexpr int kTypeCount = 6;
    DWORD m_dwLevel = 0;
    wchar_t m_szPaths[kTypeCount][kMaxLogText + 1] = {};
};

// Wide printf-style calls; %s takes a wide string. A text of more than 255
// characters leaves no record at all.
void LogTrace(const wchar_t* format, ...);
void LogError(const wchar_t* format, ...);

// A text meant for a person (a message box's) as ERROR records: one record
// for each piece of at most 255 characters, cut at line breaks where it
// can be, so a long text is not dropped whole.
void LogErrorText(const wchar_t* text);

// Why a file of the product was refused by the check against the program's
// signature, in words: the system's text, or ours for the check's own
// results when the system has none: English for the log, or from the
// resource module in the person's language.
std::wstring RefusalReason(HRESULT result, qx::TextFor reader = qx::TextFor::kLog, HMODULE resModule = nullptr);
// The ERROR record of such a refusal: the file's path, the code in hex and
// the reason (in pieces, as LogErrorText cuts them).
void LogRefusal(const wchar_t* path, HRESULT result);
