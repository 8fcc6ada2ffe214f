#pragma once
// What the scenario tests use to run the real launcher in the Wine prefix
// and to look at what it left: fixture folders, processes, the log,
// windows and the registry.
#include <windows.h>

#include <string>
#include <vector>

namespace qxtest {

inline constexpr wchar_t kGuid[] = L"{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}";

std::wstring BuildDir();     // <build>\ (Windows form), from the driver's own path
std::wstring ProductDir();   // <build>\product\ .
std::wstring DoublesDir();   // <build>\tests\doubles\ .

// What goes into a fixture folder besides the launcher itself.
enum FolderContents : unsigned {
    kWithResourceModule = 1u << 0,
    kWithRecordingPad = 1u << 1,
    kWithRealModules = 1u << 2,         // the shipped install-actions and error modules
    kWithScriptedActions = 1u << 3,     // the install-actions double
    kWithRecordingReporter = 1u << 4,   // the error-reporting double
    kWithPackage = 1u << 5,             // the test package "QXPRP4005.msi"
    kStandard = kWithResourceModule | kWithRecordingPad | kWithRealModules,
    kInstallScenario = kWithResourceModule | kWithRecordingPad | kWithScriptedActions | kWithRecordingReporter |
                       kWithPackage,
};

std::wstring FixturesDir();  // <build>\tests\fixtures\ (test packages)

// The product's machine-wide cache folder:
// <common application data>\Selkirk-Vane\QX Prism P4000 Series\ .
std::wstring CacheFolder();
// Removes the cache with its manufacturer level: a level an earlier case
// left is not one the next launcher made, so it would not be trusted.
void RemoveCache();

// Writes the install-actions double's script beside it (key=value lines).
void WriteActionsScript(const std::wstring& folder, const std::string& script);
// The calls the install-actions double recorded: one map of fields a call.
std::vector<std::wstring> RecordLines(const std::wstring& file);
std::wstring RecordField(const std::wstring& line, const std::wstring& key);

// A fresh folder (removed first when it exists) holding the launcher and
// the modules it needs. Path ends in a backslash.
std::wstring MakeLauncherFolder(const std::wstring& path, unsigned contents = kStandard);
bool CopyInto(const std::wstring& from, const std::wstring& folder, const std::wstring& name = L"");
void RemoveTree(const std::wstring& folder);
bool FileExists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
std::wstring ReadUtf8(const std::wstring& path);

class Process {
public:
    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    ~Process();
    // Starts exe with "\"exe\" args" as its command line.
    static Process Start(const std::wstring& exe, const std::wstring& args);
    bool Started() const { return handle_ != nullptr; }
    // True when the process ended within timeoutMs.
    bool Wait(DWORD timeoutMs);
    // The whole exit code (STILL_ACTIVE while it runs).
    DWORD ExitCode() const;
    void Kill();
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
};

// The launcher's log folder: <temp>\{product}\ .
std::wstring LogFolder();
void ClearLogs();
std::vector<std::wstring> LogFiles();

struct LogRecord {
    std::string type;   // the header word
    std::string time;   // the time line without "TIME: "
    std::string text;   // the text, its own line breaks as CRLF
};

// Splits the log's bytes into records; wellFormed is false when any part of
// the file is not a whole record of the expected shape.
std::vector<LogRecord> ParseLog(const std::string& bytes, bool* wellFormed);
// The texts of all records of the one log file of the last run (asserts
// that there is at most one file).
std::vector<std::string> LogTexts(const std::string& type = "");

// Top-level window of a class and caption in any process, waited for.
HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* caption, DWORD timeoutMs);
// Any visible top-level window of the given process.
HWND FindProcessWindow(DWORD processId, const wchar_t* windowClass);
// Waits for the process to end, looking for a visible window of its own
// every few milliseconds meanwhile. False when it did not end in time;
// sawWindow tells whether any window of it was ever visible.
bool WaitWatchingWindows(Process& process, DWORD timeoutMs, bool& sawWindow);
std::wstring ControlText(HWND dialog, int id);
// Clicks a button of a dialog until the dialog is gone: a dialog found the
// moment it is created may not act on the first click yet.
bool PressUntilGone(HWND dialog, int buttonId, DWORD timeoutMs = 20000);

// Registry helpers on the prefix's registry (64-bit view).
void DeleteKey(HKEY root, const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& path);
bool SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
              const void* data, DWORD size);
bool SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value);
bool ValueExists(HKEY root, const std::wstring& key, const std::wstring& name);

std::string Narrow(const std::wstring& s);
std::wstring Widen(const std::string& s);

}  // namespace qxtest
