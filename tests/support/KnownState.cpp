#include "tests/support/KnownState.h"

#include <shlobj.h>

#include <string>
#include <vector>

#include "framework/Ownership.h"
#include "tests/support/Harness.h"
#include "tests/support/Links.h"

namespace qxtest {

namespace {

// The folders every test makes its fixtures in, and what a test plants at
// the drive's root.
constexpr const wchar_t* kTestFolders[] = {L"C:\\qxtest", L"C:\\qxtest-unit", L"C:\\qxtest-modules",
                                           L"C:\\users\\Public\\qxstress-stray", L"C:\\" QX_PRODUCT_GUID};
constexpr wchar_t kPlantedAtTheRoot[] = L"C:\\qxstress-*";
// Keys the tests make for the launcher to find, or to see the watch of the
// prefix notice.
constexpr const wchar_t* kPlantedMachineKeys[] = {L"SOFTWARE\\Classes\\qxstress-stray",
                                                  L"SOFTWARE\\qxstress-other-vendor", L"SOFTWARE\\QX Unit Other Maker"};
constexpr wchar_t kPlantedUserKey[] = L"Software\\qxstress-stray";
constexpr wchar_t kPlantedRunOnceValue[] = L"qxstress-stray";
constexpr wchar_t kOtherVendor[] = L"qxstress-other-vendor";
// What the doubles read and write in the folder they run from.
constexpr const wchar_t* kDoubleFiles[] = {L"actions-script.txt", L"actions-record.txt", L"pad-record.txt",
                                           L"report-record.txt"};
constexpr const wchar_t* kDoubleFolders[] = {L"pad", L"reporter", L"reporter-noexport", L"reporter-null", L"actions"};

const std::wstring kMachineProductKey = std::wstring(L"SOFTWARE\\") + kManufacturer;

std::wstring NoSlash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// Puts back one entry after another, collecting what could not be put back.
class Reset {
public:
    void Add(const std::wstring& what) { list_ += "\n  " + Narrow(what); }
    void RemoveKey(HKEY root, const std::wstring& path) {
        DeleteKey(root, path);
        if (KeyExists(root, path)) Add(L"registry key " + RootName(root) + path);
    }
    void RemoveValue(HKEY root, const std::wstring& key, const std::wstring& name) {
        DeleteValue(root, key, name);
        if (ValueExists(root, key, name)) Add(L"registry value " + RootName(root) + key + L" | " + name);
    }
    ::testing::AssertionResult Result() const {
        if (list_.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "could not put back the known state of:" << list_;
    }

private:
    static std::wstring RootName(HKEY root) { return root == HKEY_CURRENT_USER ? L"HKCU\\" : L"HKLM\\"; }
    std::string list_;
};

// Removes the given entries through the system without following links,
// then checks that each is gone.
void RemoveAll(const std::vector<std::wstring>& paths, Reset& reset) {
    std::vector<std::wstring> present;
    for (const auto& p : paths)
        if (PathExists(NoSlash(p))) present.push_back(p);
    if (present.empty()) return;
    if (!RemoveTreesNoFollow(present)) reset.Add(L"(the system's rm could not be run)");
    for (const auto& p : present)
        if (PathExists(NoSlash(p))) reset.Add(L"folder or file " + p);
}

// A string value's text, without its terminator.
std::wstring TextOf(const RegistryValue& value) {
    const std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t));
    return text.c_str();
}

bool SetText(const wchar_t* key, DWORD type, const std::wstring& text) {
    return SetValue(HKEY_LOCAL_MACHINE, key, kCommonAppDataValue, type, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// The common application-data setting as a fresh Windows holds it, and the
// shell's remembered folder matching it.
void ResetCommonAppData(Reset& reset) {
    wchar_t expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsW(kCommonAppDataDefault, expanded, MAX_PATH);
    const std::wstring folder = expanded;
    const RegistryValue setting = ReadValue(HKEY_LOCAL_MACHINE, kUserShellFoldersKey, kCommonAppDataValue);
    if (!setting.present || setting.type != REG_EXPAND_SZ || TextOf(setting) != kCommonAppDataDefault)
        SetText(kUserShellFoldersKey, REG_EXPAND_SZ, kCommonAppDataDefault);
    const RegistryValue remembered = ReadValue(HKEY_LOCAL_MACHINE, kShellFoldersKey, kCommonAppDataValue);
    if (remembered.present && TextOf(remembered) != folder) SetText(kShellFoldersKey, REG_SZ, folder);
    const std::wstring now = CommonAppData();
    if (now.empty() || _wcsicmp(now.c_str(), folder.c_str()) != 0 || !PathExists(now))
        reset.Add(L"the common application-data folder (the shell names \"" + now + L"\", not \"" + folder + L"\")");
}

// The root's entries that match a pattern.
std::vector<std::wstring> Matching(const std::wstring& pattern) {
    std::vector<std::wstring> found;
    const std::wstring folder = pattern.substr(0, pattern.find_last_of(L'\\') + 1);
    WIN32_FIND_DATAW fd;
    const qx::UniqueFind search(FindFirstFileW(pattern.c_str(), &fd));
    if (!search) return found;
    do {
        found.push_back(folder + fd.cFileName);
    } while (FindNextFileW(search.get(), &fd));
    return found;
}

void ResetProductState(Reset& reset) {
    reset.RemoveKey(HKEY_LOCAL_MACHINE, kMachineProductKey);
    reset.RemoveKey(HKEY_LOCAL_MACHINE, kLogLevelKey);
    reset.RemoveValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
    reset.RemoveValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
    // The cache's entries left in use, and what tests plant beside them: a
    // boot of the prefix would delete them all.
    reset.RemoveValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);

    // A link in the log folder's place goes as a link; otherwise the folder
    // stays, without files.
    const std::wstring logFolder = LogFolder();
    const DWORD logAttributes = GetFileAttributesW(NoSlash(logFolder).c_str());
    const bool logLinked =
        logAttributes != INVALID_FILE_ATTRIBUTES && (logAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    std::vector<std::wstring> folders = {CommonAppData() + L"\\" + kManufacturer};
    if (logLinked) folders.push_back(logFolder);
    RemoveAll(folders, reset);
    ClearLogs();
    if (!LogFiles().empty()) reset.Add(L"the files of the log folder " + logFolder);
}

}  // namespace

::testing::AssertionResult ResetProductState() {
    Reset reset;
    ResetProductState(reset);
    return reset.Result();
}

::testing::AssertionResult ResetKnownState() {
    Reset reset;
    // The installation first: its removal may run the product's own code.
    UninstallProduct();
    if (ProductState() != INSTALLSTATE_UNKNOWN) reset.Add(std::wstring(L"the installed product ") + kProductGuid);

    ResetCommonAppData(reset);
    ResetProductState(reset);

    reset.RemoveKey(HKEY_LOCAL_MACHINE, kInProgressKey);
    reset.RemoveKey(HKEY_CURRENT_USER, kLauncherAppDefaultsKey);
    for (const wchar_t* key : kPlantedMachineKeys) reset.RemoveKey(HKEY_LOCAL_MACHINE, key);
    reset.RemoveKey(HKEY_CURRENT_USER, kPlantedUserKey);
    reset.RemoveValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kPlantedRunOnceValue);

    // Folders: the tests' own, what they plant, the per-user folder earlier
    // versions cached in, and the installed product's folder.
    std::vector<std::wstring> folders(std::begin(kTestFolders), std::end(kTestFolders));
    for (const auto& planted : Matching(kPlantedAtTheRoot)) folders.push_back(planted);
    for (const int csidl : {CSIDL_COMMON_APPDATA, CSIDL_APPDATA})
        folders.push_back(ShellFolder(csidl) + L"\\" + kOtherVendor);
    folders.push_back(ShellFolder(CSIDL_APPDATA) + L"\\" + kManufacturer);
    folders.push_back(ShellFolder(CSIDL_PROGRAM_FILES) + L"\\" + kManufacturer);
    RemoveAll(folders, reset);

    // The doubles as built: nothing a scenario wrote beside them.
    for (const wchar_t* folder : kDoubleFolders) {
        for (const wchar_t* file : kDoubleFiles) {
            const std::wstring path = DoublesDir() + folder + L"\\" + file;
            if (PathExists(path) && !DeleteFileW(path.c_str())) reset.Add(L"the double's file " + path);
        }
    }
    return reset.Result();
}

}  // namespace qxtest
