#pragma once
// What the stress tests add to the scenario harness: processes started with
// a command line, environment and current folder of the test's choosing
// (suspended when asked), waiting for an end while answering the windows a
// launcher shows, and telling a crash from an ordinary end.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/scenario/Harness.h"

namespace qxstress {

using namespace qxtest;

inline constexpr wchar_t kLauncherCaption[] = L"QXVSetup64";
inline constexpr wchar_t kDiscPromptCaption[] = L"Files Needed";
inline constexpr wchar_t kSourceRecordKey[] =
    L"SOFTWARE\\Selkirk-Vane\\Installed Products\\{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}";
inline constexpr wchar_t kLogLevelKey[] = L"SOFTWARE\\Oblent\\Installer";
inline constexpr wchar_t kPendingRebootKey[] = L"SOFTWARE\\Selkirk-Vane\\Installed Products\\PendingReboot";
inline constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kRunOnceValue[] = L"QX Prism P4000 Install";

struct StartOptions {
    std::wstring commandLine;                           // whole; empty: the quoted program path
    std::wstring currentFolder;                         // empty: the driver's
    std::map<std::wstring, std::wstring> environment;   // variables to set (empty value: remove)
    bool suspended = false;
    std::wstring outputFile;                            // receives the program's stdout and stderr
};

class Child {
public:
    Child() = default;
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    ~Child();   // a child still running is killed: nothing outlives its test

    static Child Start(const std::wstring& program, const StartOptions& options);
    bool Started() const { return process_ != nullptr; }
    DWORD StartError() const { return startError_; }   // when it did not start
    void Resume();
    bool Ended() const;
    DWORD ExitCode() const;
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    void Kill();

private:
    void Close();
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD id_ = 0;
    DWORD startError_ = 0;
};

// A top-level window of some process.
struct ShownWindow {
    HWND window;
    DWORD processId;
    std::wstring windowClass;
    std::wstring caption;
};
std::vector<ShownWindow> TopLevelWindows(DWORD processId = 0);
std::wstring WindowText(HWND window);

// What a launcher showed and how it ended.
struct Outcome {
    bool ended = false;        // within the time allowed
    bool crashed = false;      // an unhandled exception or the system's crash dialog
    DWORD exitCode = 0;
    std::vector<std::wstring> messages;      // texts of the message boxes it showed
    std::vector<std::wstring> discPrompts;   // the path field of each disc prompt it showed
    std::string crashText;                   // what the debugger wrote, when it crashed
};

// Waits for child to end, pressing OK on its message boxes and Cancel on its
// disc prompts, and dismissing the system's crash dialog (which counts as a
// crash). outputFile is the StartOptions' one, read for a debugger's report.
Outcome WaitForEnd(Child& child, DWORD timeoutMs, const std::wstring& outputFile = L"");

// The words of a text, so that line wrapping does not count.
std::vector<std::wstring> Words(const std::wstring& text);
// The system's text for an error code.
std::wstring SystemText(DWORD code);

// Every record of every log file, in file order per file; wellFormed is set
// false when any file holds anything but whole records.
std::vector<LogRecord> AllLogRecords(bool* wellFormed);
size_t CountText(const std::vector<LogRecord>& records, const std::string& text);

// A fresh folder holding what ships: the launcher, its modules and the
// product's package. Path ends in a backslash.
std::wstring MakeShippedFolder(const std::wstring& path);
// Whether Windows Installer has the product installed; removing it.
bool ProductInstalled();
void UninstallProduct();

}  // namespace qxstress
