#include "tests/support/Files.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>

#include "framework/Ownership.h"
#include "tests/support/Text.h"

namespace qxtest {

bool FileExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

qx::UniqueHandle HoldForDeletion(const std::wstring& path) {
    return qx::UniqueHandle(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadBytes(const std::wstring& path) {
    std::string out;
    const qx::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return out;
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(file.get(), buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    return out;
}

std::wstring ReadUtf8(const std::wstring& path) { return Widen(ReadBytes(path)); }

bool PutFile(const std::wstring& path, const std::string& bytes) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    if (!folder.empty() && GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    const qx::UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    const qx::UniqueFind search(FindFirstFileW((folder + L"*").c_str(), &fd));
    if (!search) return names;
    do {
        const std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..") names.push_back(n);
    } while (FindNextFileW(search.get(), &fd));
    std::sort(names.begin(), names.end());
    return names;
}

bool CopyInto(const std::wstring& from, const std::wstring& folder, const std::wstring& name) {
    const std::wstring target = name.empty() ? from.substr(from.find_last_of(L'\\') + 1) : name;
    return CopyFileW(from.c_str(), (folder + target).c_str(), FALSE) != 0;
}

void RemoveTree(const std::wstring& folder) {
    std::wstring f = folder;
    if (!f.empty() && f.back() == L'\\') f.pop_back();
    if (GetFileAttributesW(f.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    const std::wstring list = f + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = list.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationW(&op);
}

std::vector<std::wstring> RecordLines(const std::wstring& file) {
    std::vector<std::wstring> lines;
    const std::wstring all = ReadUtf8(file);
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
    const size_t inner = line.rfind(L"|" + tag);
    size_t start = inner != std::wstring::npos ? inner + 1 : 0;
    if (line.compare(start, tag.size(), tag) != 0) return L"";
    start += tag.size();
    const size_t end = line.find(L'|', start);
    return line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

}  // namespace qxtest
