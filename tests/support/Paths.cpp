#include "tests/support/Paths.h"

#include <shlobj.h>

#include "res/ProductIdentity.h"

namespace qxtest {

namespace {
std::wstring Parent(std::wstring folder) {
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}
}  // namespace

std::wstring ModuleFolder(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    const std::wstring s(path);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

std::wstring ProgramFolder() { return ModuleFolder(nullptr); }
std::wstring BuildDir() { return Parent(ProgramFolder()); }
std::wstring ProductDir() {
    // Another build's product folder, a release signed by the vendor's key say.
    wchar_t shipped[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"QX_SHIPPED_DIR", shipped, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return BuildDir() + L"product\\";
    std::wstring folder(shipped);
    return folder.back() == L'\\' ? folder : folder + L'\\';
}
std::wstring DoublesDir() { return BuildDir() + L"tests\\doubles\\"; }
std::wstring UnsignedLauncher() { return BuildDir() + L"tests\\trust\\unsigned\\" + kLauncherFile64; }
std::wstring FixturesDir() { return BuildDir() + L"tests\\fixtures\\"; }

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return L"";
    return path;
}

std::wstring CommonAppData() { return ShellFolder(CSIDL_COMMON_APPDATA); }

std::wstring CacheFolder() {
    return CommonAppData() + L"\\" + kManufacturer + L"\\" + kProductName + L"\\";
}

std::wstring LogFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring s(temp);
    if (s.empty() || s.back() != L'\\') s += L'\\';
    return s + kLogFolderName + L"\\";
}

}  // namespace qxtest
