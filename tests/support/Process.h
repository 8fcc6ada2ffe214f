#pragma once
// A program a test starts: with a command line, environment and current
// folder of the test's choosing, suspended when asked. Nothing a test
// starts outlives it: a process still running when its owner goes is
// ended.
#include <windows.h>

#include <map>
#include <string>

#include "framework/Ownership.h"

namespace qxtest {

struct StartOptions {
    std::wstring commandLine;                           // whole; empty: the quoted program path
    std::wstring currentFolder;                         // empty: the driver's
    std::map<std::wstring, std::wstring> environment;   // variables to set (empty value: remove)
    bool suspended = false;
    std::wstring outputFile;                            // receives the program's stdout and stderr
    std::wstring desktop;                               // "station\\desktop"; empty: the driver's
};

// A desktop of a window station that is not visible, as a service or a
// device installation's co-installer has in session 0: nobody sees or
// answers a window there. Made once per test program; "" when it could not be.
std::wstring UnseenDesktop();

class Process {
public:
    Process() = default;
    Process(Process&& other) noexcept = default;
    Process& operator=(Process&& other) noexcept;
    ~Process();

    // Starts exe with "\"exe\" args" as its command line.
    static Process Start(const std::wstring& exe, const std::wstring& args);
    static Process Start(const std::wstring& program, const StartOptions& options);

    bool Started() const { return static_cast<bool>(process_); }
    DWORD StartError() const { return startError_; }   // when it did not start
    void Resume();
    // True when the process ended within timeoutMs.
    bool Wait(DWORD timeoutMs);
    bool Ended() const;
    // The whole exit code (STILL_ACTIVE while it runs or when it never started).
    DWORD ExitCode() const;
    // Ends it (exit code 99) and waits for the end.
    void Kill();
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.get(); }

private:
    qx::UniqueHandle process_;
    qx::UniqueHandle thread_;
    DWORD id_ = 0;
    DWORD startError_ = 0;
};

}  // namespace qxtest
