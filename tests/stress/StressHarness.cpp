#include "tests/stress/StressHarness.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <sstream>
#include <utility>

namespace qxstress {

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
            std::wstring entry(p);
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

Child::Child(Child&& other) noexcept { *this = std::move(other); }

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        Close();
        process_ = std::exchange(other.process_, nullptr);
        thread_ = std::exchange(other.thread_, nullptr);
        id_ = other.id_;
        startError_ = other.startError_;
    }
    return *this;
}

Child::~Child() { Close(); }

void Child::Close() {
    if (process_) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) Kill();
        CloseHandle(process_);
    }
    if (thread_) CloseHandle(thread_);
    process_ = thread_ = nullptr;
}

Child Child::Start(const std::wstring& program, const StartOptions& options) {
    Child child;
    std::wstring commandLine = options.commandLine.empty() ? L"\"" + program + L"\"" : options.commandLine;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    HANDLE output = INVALID_HANDLE_VALUE;
    if (!options.outputFile.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        output = CreateFileW(options.outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output != INVALID_HANDLE_VALUE) {
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdInput = nullptr;
            si.hStdOutput = output;
            si.hStdError = output;
        }
    }
    std::vector<wchar_t> environment;
    if (!options.environment.empty()) environment = EnvironmentBlock(options.environment);

    PROCESS_INFORMATION pi = {};
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | (options.suspended ? CREATE_SUSPENDED : 0);
    if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, output != INVALID_HANDLE_VALUE, flags,
                       environment.empty() ? nullptr : environment.data(),
                       options.currentFolder.empty() ? nullptr : options.currentFolder.c_str(), &si, &pi)) {
        child.process_ = pi.hProcess;
        child.thread_ = pi.hThread;
        child.id_ = pi.dwProcessId;
    } else {
        child.startError_ = GetLastError();
    }
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    return child;
}

void Child::Resume() {
    if (thread_) ResumeThread(thread_);
}

bool Child::Ended() const { return !process_ || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

DWORD Child::ExitCode() const {
    DWORD code = 0;
    if (process_) GetExitCodeProcess(process_, &code);
    return code;
}

void Child::Kill() {
    if (process_) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
}

namespace {
struct EnumState {
    DWORD processId;
    std::vector<ShownWindow>* out;
};
BOOL CALLBACK CollectWindow(HWND w, LPARAM lp) {
    auto* state = reinterpret_cast<EnumState*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (state->processId && pid != state->processId) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    state->out->push_back({w, pid, cls, WindowText(w)});
    return TRUE;
}
}  // namespace

std::vector<ShownWindow> TopLevelWindows(DWORD processId) {
    std::vector<ShownWindow> windows;
    EnumState state{processId, &windows};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return windows;
}

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    // Not GetWindowText: a hung window must not hang the driver.
    DWORD_PTR n = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000, &n);
    return text;
}

Outcome WaitForEnd(Child& child, DWORD timeoutMs, const std::wstring& outputFile) {
    Outcome outcome;
    struct Seen {
        DWORD firstSeen;
        DWORD lastPress;
        bool recorded;
    };
    std::map<HWND, Seen> seen;
    const DWORD start = GetTickCount();
    while (!child.Ended()) {
        if (GetTickCount() - start > timeoutMs) break;
        const DWORD now = GetTickCount();
        for (const ShownWindow& w : TopLevelWindows(child.Id())) {
            if (w.windowClass != L"#32770" || !IsWindowVisible(w.window)) continue;
            const bool box = w.caption == kLauncherCaption;
            const bool prompt = w.caption == kDiscPromptCaption;
            if (!box && !prompt) continue;
            auto it = seen.find(w.window);
            if (it == seen.end()) it = seen.emplace(w.window, Seen{now, 0, false}).first;
            // Let a fresh dialog finish its set-up before it is read and answered.
            if (now - it->second.firstSeen < 300) continue;
            if (!it->second.recorded) {
                if (box) outcome.messages.push_back(ControlText(w.window, 0xFFFF));
                if (prompt) outcome.discPrompts.push_back(ControlText(w.window, 506));
                it->second.recorded = true;
            }
            if (now - it->second.lastPress < 1000) continue;
            it->second.lastPress = now;
            if (box) PostMessageW(w.window, WM_COMMAND, IDOK, 0);
            if (prompt) {
                if (HWND cancel = GetDlgItem(w.window, IDCANCEL)) PostMessageW(cancel, BM_CLICK, 0, 0);
            }
        }
        // The system's crash dialog belongs to the debugger, not to the child.
        if (HWND crash = FindWindowW(nullptr, L"Program Error")) {
            outcome.crashed = true;
            PostMessageW(crash, WM_CLOSE, 0, 0);
        }
        Sleep(50);
    }
    outcome.ended = child.Ended();
    if (!outcome.ended) child.Kill();
    outcome.exitCode = child.ExitCode();
    if (outcome.ended && outcome.exitCode >= 0xC0000000u) outcome.crashed = true;
    if (!outputFile.empty()) {
        const std::string output = ReadBytes(outputFile);
        if (output.find("Unhandled exception") != std::string::npos ||
            output.find("Unhandled page fault") != std::string::npos || output.find("winedbg") != std::string::npos) {
            outcome.crashed = true;
            outcome.crashText = output.substr(0, 2000);
        }
    }
    return outcome;
}

std::vector<std::wstring> Words(const std::wstring& text) {
    std::wistringstream in(text);
    std::vector<std::wstring> words;
    for (std::wstring w; in >> w;) words.push_back(w);
    return words;
}

std::wstring SystemText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                   nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring s = text ? text : L"";
    if (text) LocalFree(text);
    return s;
}

std::vector<LogRecord> AllLogRecords(bool* wellFormed) {
    std::vector<LogRecord> all;
    bool ok = true;
    for (const auto& file : LogFiles()) {
        bool fileOk = false;
        auto records = ParseLog(ReadBytes(file), &fileOk);
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

std::wstring MakeShippedFolder(const std::wstring& path) {
    const std::wstring folder = MakeLauncherFolder(path, kWithResourceModule | kWithRealModules);
    EXPECT_TRUE(CopyInto(ProductDir() + L"QXPRP4005.msi", folder));
    return folder;
}

bool ProductInstalled() { return MsiQueryProductStateW(kGuid) == INSTALLSTATE_DEFAULT; }

void UninstallProduct() {
    if (!ProductInstalled()) return;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductW(kGuid, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

}  // namespace qxstress
