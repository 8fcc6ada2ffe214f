#include "tests/stress/PrefixState.h"

#include <algorithm>
#include <cwchar>

#include "tests/support/Harness.h"

namespace qxtest {

namespace {

std::wstring NoTrailingSlash(std::wstring s) {
    while (s.size() > 3 && s.back() == L'\\') s.pop_back();
    return s;
}

// Between a key's path and a value's name in a value's entry: key names may
// hold any character but the backslash.
constexpr wchar_t kValueSeparator = L'\x1F';

bool AtOrBelow(const std::wstring& path, const std::wstring& base) {
    return path == base ||
           (path.size() > base.size() && path.compare(0, base.size(), base) == 0 && path[base.size()] == L'\\');
}

// A mark of some bytes: their count and a 64-bit FNV-1a hash.
std::wstring Mark(const BYTE* data, size_t size) {
    unsigned long long h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    wchar_t text[64];
    swprintf(text, 64, L"%zu:%016llx", size, h);
    return text;
}

// Wine links some of the user's folders (Documents, Desktop, ...) to the
// Unix home folder, which is not part of the prefix: such a folder is
// listed, not walked.
bool LeavesThePrefix(const std::wstring& folder) {
    HANDLE h = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    wchar_t final[1024] = {};
    DWORD n = GetFinalPathNameByHandleW(h, final, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    if (n == 0 || n >= 1024) return false;
    const wchar_t* f = final;
    if (wcsncmp(f, L"\\\\?\\", 4) == 0) f += 4;
    return !((f[0] == L'C' || f[0] == L'c') && f[1] == L':' && f[2] == L'\\');
}

void WalkFolder(const std::wstring& folder, const std::vector<std::wstring>& skip,
                std::map<std::wstring, std::wstring>& into, int depth) {
    if (depth > 40) return;
    WIN32_FIND_DATAW fd;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &fd);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + name;
        const std::wstring lower = Lower(path);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            bool skipped = lower == L"c:\\windows";
            for (const auto& s : skip) skipped = skipped || lower == s;
            if (skipped) continue;
            into[L"D|" + lower] = path;
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !LeavesThePrefix(path))
                WalkFolder(path + L"\\", skip, into, depth + 1);
        } else {
            wchar_t mark[96];
            swprintf(mark, 96, L"%lu:%lu:%lu:%lu", fd.nFileSizeHigh, fd.nFileSizeLow,
                     fd.ftLastWriteTime.dwHighDateTime, fd.ftLastWriteTime.dwLowDateTime);
            into[L"F|" + lower] = path + L" [" + mark + L"]";
        }
    } while (FindNextFileW(search, &fd));
    FindClose(search);
}

HKEY OpenKey(HKEY root, const std::wstring& path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, access | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

std::vector<std::wstring> Subkeys(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[512];
    for (DWORD i = 0;; ++i) {
        DWORD length = 512;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

// The key's own entry and its values.
void ReadValues(HKEY key, const std::wstring& full, std::map<std::wstring, std::wstring>& into) {
    const std::wstring lower = Lower(full);
    into[L"K|" + lower] = full;
    DWORD maxName = 0, maxData = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData, nullptr,
                     nullptr);
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0, retries = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG rc = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (rc == ERROR_MORE_DATA && retries++ < 4) {
            // It grew since the query: read this one again with room enough.
            name.resize(name.size() * 2 + 256);
            data.resize(data.size() * 2 + 4096);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        const std::wstring valueName(name.data(), nameLength);
        into[L"V|" + lower + kValueSeparator + Lower(valueName)] =
            full + L"|" + valueName + L" [" + std::to_wstring(type) + L":" + Mark(data.data(), dataSize) + L"]";
    }
}

bool IsWatchedOnly(HKEY root, const std::wstring& path);
void NoteWatchedOnly(const std::wstring& full, std::map<std::wstring, std::wstring>& into, bool changed);

void WalkKey(HKEY root, const std::wstring& rootName, const std::wstring& path,
             std::map<std::wstring, std::wstring>& into, int depth) {
    if (depth > 40) return;
    if (IsWatchedOnly(root, path)) {
        NoteWatchedOnly(rootName + L"\\" + path, into, false);
        return;
    }
    HKEY key = OpenKey(root, path, KEY_READ);
    if (!key) return;
    ReadValues(key, rootName + L"\\" + path, into);
    const auto children = Subkeys(key);
    RegCloseKey(key);
    for (const auto& c : children) WalkKey(root, rootName, path + L"\\" + c, into, depth + 1);
}

// Removes what is known of a key: its values, and with subtree the key
// itself and everything below it.
void Forget(std::map<std::wstring, std::wstring>& state, const std::wstring& full, bool subtree) {
    const std::wstring lower = Lower(full);
    for (const wchar_t kind : {L'K', L'V'}) {
        const std::wstring prefix = std::wstring(1, kind) + L"|" + lower;
        for (auto it = state.lower_bound(prefix); it != state.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
            std::wstring keyPath = it->first.substr(2);
            if (kind == L'V') keyPath = keyPath.substr(0, keyPath.find(kValueSeparator));
            const bool remove = subtree ? AtOrBelow(keyPath, lower) : (kind == L'V' && keyPath == lower);
            it = remove ? state.erase(it) : std::next(it);
        }
    }
}

// Direct subkeys of full that the state knows.
std::vector<std::wstring> KnownChildren(const std::map<std::wstring, std::wstring>& state, const std::wstring& full) {
    std::vector<std::wstring> children;
    const std::wstring prefix = L"K|" + Lower(full) + L"\\";
    for (auto it = state.lower_bound(prefix); it != state.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
        const std::wstring rest = it->first.substr(prefix.size());
        if (rest.find(L'\\') == std::wstring::npos) children.push_back(it->second.substr(full.size() + 1));
    }
    return children;
}

// The keys that are watched part by part: the roots and the path to the
// RunOnce key, which a launcher may write. Everything else under them is
// watched as a whole subtree.
struct Split {
    HKEY root;
    const wchar_t* rootName;
    const wchar_t* path;
};
const Split kSplits[] = {
    {HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE\\Microsoft"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE\\Microsoft\\Windows"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion"},
    {HKEY_CURRENT_USER, L"HKCU", L"Software"},
    {HKEY_CURRENT_USER, L"HKCU", L"Software\\Microsoft"},
    {HKEY_CURRENT_USER, L"HKCU", L"Software\\Microsoft\\Windows"},
    {HKEY_CURRENT_USER, L"HKCU", L"Software\\Microsoft\\Windows\\CurrentVersion"},
};

bool IsSplit(HKEY root, const std::wstring& path) {
    for (const auto& s : kSplits)
        if (s.root == root && Lower(s.path) == Lower(path)) return true;
    return false;
}

// The class registrations: nine in ten of all keys, nothing a launcher may
// touch. Reading them takes seconds, so they are only watched: any change
// below shows as a change of the key itself, without the detail.
bool IsWatchedOnly(HKEY root, const std::wstring& path) {
    return root == HKEY_LOCAL_MACHINE && Lower(path) == L"software\\classes";
}

// The entry a watched-only key has in the state; its mark counts the
// changes seen below it.
void NoteWatchedOnly(const std::wstring& full, std::map<std::wstring, std::wstring>& into, bool changed) {
    auto& mark = into[L"K|" + Lower(full)];
    const size_t at = mark.rfind(L" [changes below: ");
    unsigned long count = at == std::wstring::npos ? 0 : std::wcstoul(mark.c_str() + at + 17, nullptr, 10);
    if (changed) ++count;
    mark = full + L" [changes below: " + std::to_wstring(count) + L"]";
}

// Wine's own bookkeeping, not a program's doing: the system parameters a
// window changes for the session (the disc prompt's dialog does).
constexpr wchar_t kPlatformKey[] = L"hkcu\\software\\wine\\temporary system parameters";

bool Allowed(const std::wstring& entry, const Allowance& allowed, bool createdOrDeleted) {
    const wchar_t kind = entry[0];
    std::wstring path = entry.substr(2);
    if (kind == L'V') path = path.substr(0, path.find(kValueSeparator));
    if ((kind == L'K' || kind == L'V') && AtOrBelow(path, kPlatformKey)) return true;
    const auto& bases = (kind == L'D' || kind == L'F') ? allowed.folders : allowed.keys;
    for (const auto& b : bases) {
        const std::wstring base = NoTrailingSlash(Lower(b));
        if (AtOrBelow(path, base)) return true;
        // A parent folder or key of the product's own comes and goes with it.
        if ((kind == L'D' || kind == L'K') && createdOrDeleted && AtOrBelow(base, path)) return true;
    }
    if (kind == L'V')
        for (const auto& [key, name] : allowed.values)
            if (entry.substr(2) == Lower(key + kValueSeparator + name)) return true;
    return false;
}

}  // namespace

Allowance ProductAllowance(const std::wstring& launcherTemp) {
    Allowance a;
    a.folders.push_back(CacheFolder());
    std::wstring temp = launcherTemp;
    if (temp.empty()) {
        wchar_t t[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, t);
        temp = t;
    }
    if (!temp.empty() && temp.back() != L'\\') temp += L'\\';
    a.folders.push_back(temp + kLogFolderName);
    a.keys.push_back(std::wstring(L"HKLM\\") + kSourceRecordKey);
    a.values.emplace_back(std::wstring(L"HKLM\\") + kRunOnceKey, kRunOnceValue);
    // The system's root certificates: Wine's crypt32 fills them from the
    // host's trust store (p11-kit's, where it is installed) whenever a
    // program of the prefix checks a signature, as Windows' root updates do.
    a.keys.push_back(L"HKLM\\SOFTWARE\\Microsoft\\SystemCertificates\\Root\\Certificates");
    return a;
}

PrefixWatch::PrefixWatch(const std::vector<std::wstring>& skip) {
    for (const auto& s : skip) skip_.push_back(NoTrailingSlash(Lower(s)));
    Arm();
    ReadFiles(state_);
    WalkKey(HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE", state_, 0);
    WalkKey(HKEY_CURRENT_USER, L"HKCU", L"Software", state_, 0);
}

PrefixWatch::~PrefixWatch() { Disarm(); }

void PrefixWatch::Arm() {
    for (const auto& s : kSplits) {
        HKEY key = OpenKey(s.root, s.path, KEY_READ);
        if (!key) continue;
        std::vector<std::wstring> parts = {L""};
        for (const auto& c : Subkeys(key))
            if (!IsSplit(s.root, std::wstring(s.path) + L"\\" + c)) parts.push_back(c);
        RegCloseKey(key);
        for (const auto& part : parts) {
            Watch w{s.root, s.rootName, part.empty() ? s.path : std::wstring(s.path) + L"\\" + part, !part.empty(),
                    nullptr, nullptr};
            w.key = OpenKey(w.root, w.path, KEY_NOTIFY);
            w.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (!w.key || !w.event ||
                RegNotifyChangeKeyValue(w.key, w.subtree, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, w.event,
                                        TRUE) != ERROR_SUCCESS) {
                // Not watchable: read it again every time instead.
                if (w.event) SetEvent(w.event);
            }
            watches_.push_back(w);
        }
    }
}

void PrefixWatch::Disarm() {
    for (auto& w : watches_) {
        if (w.key) RegCloseKey(w.key);
        if (w.event) CloseHandle(w.event);
    }
    watches_.clear();
}

void PrefixWatch::ReadFiles(std::map<std::wstring, std::wstring>& into) const {
    for (auto it = into.begin(); it != into.end();)
        it = (it->first[0] == L'D' || it->first[0] == L'F') ? into.erase(it) : std::next(it);
    WalkFolder(L"C:\\", skip_, into, 0);
}

void PrefixWatch::ReadChangedKeys(std::map<std::wstring, std::wstring>& into) {
    // New watches first, so that nothing done while the old ones are read
    // goes unseen next time.
    std::vector<Watch> fired;
    std::vector<Watch> old = std::move(watches_);
    watches_.clear();
    Arm();
    for (auto& w : old) {
        if (!w.event || WaitForSingleObject(w.event, 0) == WAIT_OBJECT_0) fired.push_back(w);
    }
    for (const auto& w : fired) {
        const std::wstring full = w.rootName + L"\\" + w.path;
        if (w.subtree && IsWatchedOnly(w.root, w.path)) {
            NoteWatchedOnly(full, into, true);
            continue;
        }
        if (w.subtree) {
            Forget(into, full, true);
            WalkKey(w.root, w.rootName, w.path, into, 0);
            continue;
        }
        Forget(into, full, false);
        HKEY key = OpenKey(w.root, w.path, KEY_READ);
        if (!key) continue;
        ReadValues(key, full, into);
        const auto now = Subkeys(key);
        RegCloseKey(key);
        auto lowerList = [](const std::vector<std::wstring>& v) {
            std::vector<std::wstring> out;
            for (const auto& s : v) out.push_back(Lower(s));
            return out;
        };
        const auto nowLower = lowerList(now);
        const auto known = KnownChildren(into, full);
        const auto knownLower = lowerList(known);
        for (size_t i = 0; i < known.size(); ++i)
            if (std::find(nowLower.begin(), nowLower.end(), knownLower[i]) == nowLower.end())
                Forget(into, full + L"\\" + known[i], true);
        for (size_t i = 0; i < now.size(); ++i)
            if (std::find(knownLower.begin(), knownLower.end(), nowLower[i]) == knownLower.end())
                WalkKey(w.root, w.rootName, w.path + L"\\" + now[i], into, 0);
    }
    for (auto& w : old) {
        if (w.key) RegCloseKey(w.key);
        if (w.event) CloseHandle(w.event);
    }
}

void PrefixWatch::Rebase() {
    ReadFiles(state_);
    ReadChangedKeys(state_);
}

std::vector<std::wstring> PrefixWatch::Changes(const Allowance& allowed) {
    std::map<std::wstring, std::wstring> now = state_;
    ReadFiles(now);
    ReadChangedKeys(now);
    std::vector<std::wstring> changes;
    for (const auto& [entry, mark] : now) {
        auto it = state_.find(entry);
        if (it == state_.end()) {
            if (!Allowed(entry, allowed, true)) changes.push_back(L"created: " + mark);
        } else if (it->second != mark && !Allowed(entry, allowed, false)) {
            changes.push_back(L"changed: " + it->second + L" -> " + mark);
        }
    }
    for (const auto& [entry, mark] : state_)
        if (!now.count(entry) && !Allowed(entry, allowed, true)) changes.push_back(L"deleted: " + mark);
    state_ = std::move(now);
    return changes;
}

}  // namespace qxtest
