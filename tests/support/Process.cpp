#include "tests/support/Process.h"

#include <utility>
#include <vector>

namespace qxtest {

namespace {

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The driver's environment with the given variables set or removed, as a
// block for CreateProcessW.
std::vector<wchar_t> EnvironmentBlock(const std::map<std::wstring, std::wstring>& changes) {
    std::vector<std::wstring> entries;
    if (wchar_t* env = GetEnvironmentStringsW()) {
        for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
            const std::wstring entry(p);
            const size_t eq = entry.find(L'=', 1);   // "=C:=..." entries start with '='
            const std::wstring name = entry.substr(0, eq);
            bool changed = false;
            for (const auto& c : changes) changed = changed || SameName(c.first, name);
            if (!changed) entries.push_back(entry);
        }
        FreeEnvironmentStringsW(env);
    }
    for (const auto& c : changes)
        if (!c.second.empty()) entries.push_back(c.first + L"=" + c.second);
    std::vector<wchar_t> block;
    for (const auto& e : entries) {
        block.insert(block.end(), e.begin(), e.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

}  // namespace

std::wstring UnseenDesktop() {
    static const std::wstring made = [] {
        // Kept open for the whole test program: the desktop lives as long as a handle to it.
        static HWINSTA station = CreateWindowStationW(L"QxTestUnseen", 0, WINSTA_ALL_ACCESS, nullptr);
        static HDESK desktop = nullptr;
        HWINSTA own = GetProcessWindowStation();
        if (!station || !SetProcessWindowStation(station)) return std::wstring();
        desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        SetProcessWindowStation(own);
        return desktop ? std::wstring(L"QxTestUnseen\\Default") : std::wstring();
    }();
    return made;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Kill();
        process_ = std::move(other.process_);
        thread_ = std::move(other.thread_);
        id_ = other.id_;
        startError_ = other.startError_;
    }
    return *this;
}

Process::~Process() {
    if (!Ended()) Kill();
}

Process Process::Start(const std::wstring& exe, const std::wstring& args) {
    StartOptions options;
    options.commandLine = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    return Start(exe, options);
}

Process Process::Start(const std::wstring& program, const StartOptions& options) {
    Process child;
    const std::wstring commandLine = options.commandLine.empty() ? L"\"" + program + L"\"" : options.commandLine;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    std::wstring desktop = options.desktop;
    if (!desktop.empty()) si.lpDesktop = desktop.data();
    qx::UniqueHandle output;
    if (!options.outputFile.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        output.reset(CreateFileW(options.outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (output) {
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdInput = nullptr;
            si.hStdOutput = output.get();
            si.hStdError = output.get();
        }
    }
    std::vector<wchar_t> environment;
    if (!options.environment.empty()) environment = EnvironmentBlock(options.environment);

    PROCESS_INFORMATION pi = {};
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (options.suspended ? CREATE_SUSPENDED : 0);
    if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, output ? TRUE : FALSE, flags,
                       environment.empty() ? nullptr : environment.data(),
                       options.currentFolder.empty() ? nullptr : options.currentFolder.c_str(), &si, &pi)) {
        child.process_.reset(pi.hProcess);
        child.thread_.reset(pi.hThread);
        child.id_ = pi.dwProcessId;
    } else {
        child.startError_ = GetLastError();
    }
    return child;
}

void Process::Resume() {
    if (thread_) ResumeThread(thread_.get());
}

bool Process::Wait(DWORD timeoutMs) {
    return process_ && WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

bool Process::Ended() const { return !process_ || WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }

DWORD Process::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_) GetExitCodeProcess(process_.get(), &code);
    return code;
}

void Process::Kill() {
    if (process_ && !Ended()) {
        TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 10000);
    }
}

}  // namespace qxtest
