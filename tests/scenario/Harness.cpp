#include "tests/scenario/Harness.h"
#include "tests/support/Links.h"

#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

namespace qxtest {

namespace {

std::wstring Parent(const std::wstring& folderWithSlash) {
    std::wstring s = folderWithSlash;
    if (!s.empty() && s.back() == L'\\') s.pop_back();
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

}  // namespace

std::wstring BuildDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path);
    std::wstring testsDir = s.substr(0, s.find_last_of(L'\\') + 1);
    return Parent(testsDir);
}

std::wstring ProductDir() { return BuildDir() + L"product\\"; }
std::wstring DoublesDir() { return BuildDir() + L"tests\\doubles\\"; }
std::wstring FixturesDir() { return BuildDir() + L"tests\\fixtures\\"; }

void WriteActionsScript(const std::wstring& folder, const std::string& script) {
    HANDLE h = CreateFileW((folder + L"actions-script.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, script.data(), static_cast<DWORD>(script.size()), &written, nullptr);
    CloseHandle(h);
}

std::vector<std::wstring> RecordLines(const std::wstring& file) {
    std::vector<std::wstring> lines;
    std::wstring all = ReadUtf8(file);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t nl = all.find(L'\n', pos);
        if (nl == std::wstring::npos) nl = all.size();
        if (nl > pos) lines.push_back(all.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

std::wstring RecordField(const std::wstring& line, const std::wstring& key) {
    const std::wstring tag = key + L"=";
    size_t start = line.rfind(L"|" + tag) != std::wstring::npos ? line.rfind(L"|" + tag) + 1 : 0;
    if (line.compare(start, tag.size(), tag) != 0) return L"";
    start += tag.size();
    size_t end = line.find(L'|', start);
    return line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

bool FileExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::wstring& folder) {
    std::wstring f = folder;
    if (!f.empty() && f.back() == L'\\') f.pop_back();
    if (GetFileAttributesW(f.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    std::wstring list = f + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = list.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationW(&op);
}

bool CopyInto(const std::wstring& from, const std::wstring& folder, const std::wstring& name) {
    std::wstring target = name;
    if (target.empty()) target = from.substr(from.find_last_of(L'\\') + 1);
    return CopyFileW(from.c_str(), (folder + target).c_str(), FALSE) != 0;
}

std::wstring MakeLauncherFolder(const std::wstring& path, unsigned contents) {
    std::wstring folder = path;
    if (folder.back() != L'\\') folder += L'\\';
    RemoveTree(folder);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    const std::wstring product = ProductDir();
    EXPECT_TRUE(CopyInto(product + L"QXVSetup64.exe", folder));
    EXPECT_TRUE(CopyInto(product + L"CustomActionData64.dll", folder));
    if (contents & kWithResourceModule) {
        EXPECT_TRUE(CopyInto(product + L"QXVSetupRES64.dll", folder));
    }
    if (contents & kWithRealModules) {
        EXPECT_TRUE(CopyInto(product + L"QXVInstallActions64.dll", folder));
        EXPECT_TRUE(CopyInto(product + L"QXPRP4005P64.dll", folder));
    }
    if (contents & kWithScriptedActions) {
        EXPECT_TRUE(CopyInto(DoublesDir() + L"actions\\QXVInstallActions64.dll", folder));
    }
    if (contents & kWithRecordingReporter) {
        EXPECT_TRUE(CopyInto(DoublesDir() + L"reporter\\QXPRP4005P64.dll", folder));
    }
    if (contents & kWithPackage) {
        EXPECT_TRUE(CopyInto(FixturesDir() + L"QXPRP4005.msi", folder));
    }
    if (contents & kWithRecordingPad) {
        EXPECT_TRUE(CopyInto(DoublesDir() + L"pad\\Setup.exe", folder));
    }
    return folder;
}

std::string ReadBytes(const std::wstring& path) {
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    CloseHandle(h);
    return out;
}

std::wstring ReadUtf8(const std::wstring& path) { return Widen(ReadBytes(path)); }

Process::Process(Process&& other) noexcept : handle_(other.handle_), id_(other.id_) {
    other.handle_ = nullptr;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        if (handle_) CloseHandle(handle_);
        handle_ = other.handle_;
        id_ = other.id_;
        other.handle_ = nullptr;
    }
    return *this;
}

Process::~Process() {
    if (handle_) {
        // A test never leaves a launcher running into the next one.
        if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) TerminateProcess(handle_, 99);
        CloseHandle(handle_);
    }
}

Process Process::Start(const std::wstring& exe, const std::wstring& args) {
    Process p;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!args.empty()) commandLine += L" " + args;
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
        CloseHandle(pi.hThread);
        p.handle_ = pi.hProcess;
        p.id_ = pi.dwProcessId;
    }
    return p;
}

bool Process::Wait(DWORD timeoutMs) {
    return handle_ && WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (handle_) GetExitCodeProcess(handle_, &code);
    return code;
}

void Process::Kill() {
    if (handle_) {
        TerminateProcess(handle_, 99);
        WaitForSingleObject(handle_, 10000);
    }
}

std::wstring LogFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring s(temp);
    if (s.empty() || s.back() != L'\\') s += L'\\';
    return s + kGuid + L"\\";
}

namespace {
// Every file of the log folder; the installer's verbose logs lie there too.
std::vector<std::wstring> FilesInLogFolder() {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((LogFolder() + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(LogFolder() + fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return files;
}
}  // namespace

std::vector<std::wstring> LogFiles() {
    std::vector<std::wstring> logs;
    const std::wstring installerLog = L".msi.log";
    for (const auto& f : FilesInLogFolder()) {
        bool isInstallerLog = f.size() > installerLog.size() &&
                              _wcsicmp(f.c_str() + f.size() - installerLog.size(), installerLog.c_str()) == 0;
        if (!isInstallerLog) logs.push_back(f);
    }
    return logs;
}

void ClearLogs() {
    // A link in the log folder's place is a test's attack: its target is
    // not the tests' to clear.
    std::wstring folder = LogFolder();
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    for (const auto& f : FilesInLogFolder()) DeleteFileW(f.c_str());
}

std::vector<LogRecord> ParseLog(const std::string& bytes, bool* wellFormed) {
    static const std::string kSep = "________________________________________\r\n";
    std::vector<LogRecord> records;
    bool ok = true;
    size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes.compare(pos, kSep.size(), kSep) != 0) { ok = false; break; }
        pos += kSep.size();
        size_t next = bytes.find(kSep, pos);
        std::string body = bytes.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        pos = next == std::string::npos ? bytes.size() : next;
        LogRecord r;
        size_t l1 = body.find("\r\n");
        size_t l2 = l1 == std::string::npos ? l1 : body.find("\r\n", l1 + 2);
        if (l2 == std::string::npos || body.compare(0, 10, "LOG TYPE: ") != 0 ||
            body.compare(l1 + 2, 6, "TIME: ") != 0 || body.size() < l2 + 4 ||
            body.compare(body.size() - 2, 2, "\r\n") != 0) {
            ok = false;
            break;
        }
        r.type = body.substr(10, l1 - 10);
        r.time = body.substr(l1 + 8, l2 - l1 - 8);
        r.text = body.substr(l2 + 2, body.size() - l2 - 4);
        records.push_back(r);
    }
    if (wellFormed) *wellFormed = ok;
    return records;
}

std::vector<std::string> LogTexts(const std::string& type) {
    std::vector<std::string> texts;
    auto files = LogFiles();
    EXPECT_LE(files.size(), 1u) << "one run writes one log file";
    if (files.empty()) return texts;
    bool ok = false;
    for (const auto& r : ParseLog(ReadBytes(files[0]), &ok))
        if (type.empty() || r.type == type) texts.push_back(r.text);
    EXPECT_TRUE(ok) << "the log holds only whole records";
    return texts;
}

HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* caption, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND w = FindWindowW(windowClass, caption);
        if (w) return w;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(100);
    }
}

namespace {
struct FindData {
    DWORD pid;
    const wchar_t* cls;
    HWND found;
};
BOOL CALLBACK FindProc(HWND w, LPARAM lp) {
    auto* d = reinterpret_cast<FindData*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != d->pid) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    if (d->cls && lstrcmpW(cls, d->cls) != 0) return TRUE;
    d->found = w;
    return FALSE;
}
}  // namespace

HWND FindProcessWindow(DWORD processId, const wchar_t* windowClass) {
    FindData d{processId, windowClass, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
    return d.found;
}

namespace {
BOOL CALLBACK FindVisibleOf(HWND window, LPARAM param) {
    auto* wanted = reinterpret_cast<std::pair<DWORD, bool>*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == wanted->first && IsWindowVisible(window)) {
        wanted->second = true;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

bool WaitWatchingWindows(Process& process, DWORD timeoutMs, bool& sawWindow) {
    sawWindow = false;
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        std::pair<DWORD, bool> wanted(process.Id(), false);
        EnumWindows(&FindVisibleOf, reinterpret_cast<LPARAM>(&wanted));
        sawWindow = sawWindow || wanted.second;
        if (process.Wait(5)) return true;
    }
    return false;
}

std::wstring ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return L"";
    int n = static_cast<int>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(control, WM_GETTEXT, static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(n));
    return text;
}

bool PressUntilGone(HWND dialog, int buttonId, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(dialog)) {
        if (GetTickCount() - start > timeoutMs) return false;
        if (HWND button = GetDlgItem(dialog, buttonId)) PostMessageW(button, BM_CLICK, 0, 0);
        for (int i = 0; i < 10 && IsWindow(dialog); ++i) Sleep(100);
    }
    return true;
}

void DeleteKey(HKEY root, const std::wstring& path) {
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

bool SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
              const void* data, DWORD size) {
    HKEY k = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    LSTATUS s = RegSetValueExW(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(k);
    return s == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value) {
    return SetValue(root, key, name, REG_DWORD, &value, sizeof value);
}

bool ValueExists(HKEY root, const std::wstring& key, const std::wstring& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    LSTATUS s = RegQueryValueExW(k, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(k);
    return s == ERROR_SUCCESS;
}

std::string Narrow(const std::wstring& s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::wstring CacheFolder() {
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
    return std::wstring(common) + L"\\Selkirk-Vane\\QX Prism P4000 Series\\";
}

void RemoveCache() {
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
    RemoveTreeNoFollow(std::wstring(common) + L"\\Selkirk-Vane\\");
}

}  // namespace qxtest
