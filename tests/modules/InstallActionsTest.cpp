// The shipped install-actions module, copied from the product folder into a
// fixture folder of the prefix, loaded by path and installing the product's
// package for real; and the package itself.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <string>
#include <vector>

#include "diag/Logger.h"
#include "framework/FileSignature.h"
#include "framework/Ownership.h"
#include "framework/ReleasePins.h"
#include "framework/SyncObjects.h"
#include "tests/support/Harness.h"

namespace {

using namespace qxtest;

constexpr wchar_t kRoot[] = L"C:\\qxtest-modules\\";
constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Selkirk-Vane\\QX Prism P4000 Series\\";
constexpr wchar_t kArpKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" QX_PRODUCT_GUID;
constexpr const wchar_t* kPackage = kPackageFile;
constexpr wchar_t kModule[] = L"QXVInstallActions64.dll";

using DoInstallActionsFn = int (*)(const wchar_t*, UiLock*, const wchar_t*, int);

// A folder named by the test's environment, with a trailing backslash.
std::wstring EnvFolder(const wchar_t* name) {
    wchar_t buf[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH);
    return n && n < MAX_PATH ? std::wstring(buf) + L"\\" : L"";
}

// The texts of a log the module wrote into at the default level: whole
// records, and all of them TRACE records.
std::vector<std::string> TraceTexts(const std::wstring& path) {
    const std::string bytes = ReadBytes(path);
    bool whole = false;
    std::vector<std::string> texts;
    for (const auto& r : ParseLog(bytes, &whole)) {
        EXPECT_EQ(r.type, "TRACE") << r.text;
        texts.push_back(r.text);
    }
    EXPECT_TRUE(whole && !bytes.empty()) << "log is not made of whole records: " << bytes;
    return texts;
}

// The UI event and the lock record over it, held, as the launcher passes it.
struct HeldLock {
    CEvent event{FALSE, FALSE, nullptr};
    UiLock lock{&event};
    HeldLock() {
        event.SetEvent();
        lock.Lock(0);
    }
    int32_t Held() const { return *reinterpret_cast<const volatile int32_t*>(&lock.m_bAcquired); }
};

class ProductTest : public ::testing::Test {
protected:
    void SetUp() override {
        product_ = EnvFolder(L"QX_TEST_PRODUCT_DIR");
        demo_ = EnvFolder(L"QX_TEST_DEMO_DIR");
        sources_ = EnvFolder(L"QX_TEST_PACKAGE_SOURCE");
        ASSERT_FALSE(product_.empty() || demo_.empty() || sources_.empty()) << "test environment not set";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::wstring(kRoot) + Widen(info->name()) + L"\\";
        ASSERT_TRUE(ResetKnownState());
        CreateDirectoryW(kRoot, nullptr);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        log_ = folder_ + L"setup.log";
    }
    void TearDown() override {
        module_.reset();
        CLogger::Instance().Reset();
    }

    // The shipped module, copied into folder and loaded from there.
    DoInstallActionsFn Load(const std::wstring& folder) {
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring path = folder + kModule;
        EXPECT_TRUE(CopyFileW((product_ + kModule).c_str(), path.c_str(), FALSE));
        module_.reset(LoadLibraryW(path.c_str()));
        EXPECT_TRUE(module_) << "not loaded";
        wchar_t loaded[MAX_PATH] = {};
        GetModuleFileNameW(module_.get(), loaded, MAX_PATH);
        EXPECT_EQ(_wcsicmp(loaded, path.c_str()), 0) << Narrow(loaded);
        auto fn = reinterpret_cast<DoInstallActionsFn>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), "DoInstallActions")));
        EXPECT_NE(fn, nullptr);
        return fn;
    }
    void PutPackage(const std::wstring& folder, const std::wstring& from = L"") {
        CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW((from.empty() ? product_ + kPackage : from).c_str(), (folder + kPackage).c_str(), FALSE));
    }
    // The module loaded from the fixture folder with the package beside it,
    // after one installation from there, with one installed file deleted
    // since; null when any of that failed.
    DoInstallActionsFn InstalledOnceWithAFileMissing() {
        auto install = Load(folder_);
        if (!install) return nullptr;
        PutPackage(folder_);
        EXPECT_EQ(install(L"CALLER=SETUP", nullptr, log_.c_str(), 0), 0) << "the first installation";
        EXPECT_TRUE(DeleteFileW((std::wstring(kInstallDir) + L"readme.txt").c_str()));
        return HasFailure() ? nullptr : install;
    }
    void ExpectInstalledFiles() {
        EXPECT_EQ(ProductState(), INSTALLSTATE_DEFAULT);
        for (const wchar_t* name : {L"QXPRP4005.inf", L"readme.txt"}) {
            const std::string installed = ReadBytes(std::wstring(kInstallDir) + name);
            EXPECT_FALSE(installed.empty()) << Narrow(name);
            EXPECT_EQ(installed, ReadBytes(sources_ + name)) << Narrow(name);
        }
    }

    std::wstring product_, demo_, sources_, folder_, log_;
    qx::UniqueModule module_;
};

using InstallActionsTest = ProductTest;

TEST_F(InstallActionsTest, InstallsThePackageBesideTheModuleIntoTheLaunchersLog) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    PutPackage(folder_);
    // The launcher's own records before and after share the file.
    CLogger::Instance().SetLogFile(log_.c_str());
    CLogger::Instance().AddLevel(kDefaultLogLevel);
    LogTrace(L"launcher before");
    HeldLock held;
    ASSERT_EQ(held.Held(), 1);

    EXPECT_EQ(install(L"CALLER=SETUP", &held.lock, log_.c_str(), 0), 0);
    LogTrace(L"launcher after");

    EXPECT_EQ(held.Held(), 0);
    ExpectInstalledFiles();
    const auto texts = TraceTexts(log_);
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0], "launcher before");
    EXPECT_EQ(texts[1], "In DoInstallActions: CALLER=SETUP");
    EXPECT_TRUE(Contains(texts, "Package beside the module: " + Narrow(folder_) + "QXPRP4005.msi"));
    EXPECT_TRUE(Contains(texts, "MsiInstallProductW returned 0"));
    EXPECT_EQ(texts[texts.size() - 2], "Exiting DoInstallActions");
    EXPECT_EQ(texts.back(), "launcher after");
    // The installer's own verbose log lies beside the launcher's.
    EXPECT_NE(ReadBytes(folder_ + L"setup.msi.log").find("InstallFiles"), std::string::npos);
}

// What the progress dialog's creation saw, recorded by a hook on the
// calling thread (the installer's UI runs there).
struct DialogWatch {
    HeldLock* lock = nullptr;
    int dialogs = 0;
    int heldAtFirstDialog = -1;
} g_watch;

LRESULT CALLBACK WatchDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
        const wchar_t* cls = create->lpcs->lpszClass;
        if (HIWORD(reinterpret_cast<ULONG_PTR>(cls)) && wcscmp(cls, L"MsiDialogCloseClass") == 0 &&
            g_watch.dialogs++ == 0)
            g_watch.heldAtFirstDialog = g_watch.lock->Held();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(InstallActionsTest, ReleasesTheLockJustBeforeTheInstallersProgressDialog) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    PutPackage(folder_);
    HeldLock held;
    g_watch = DialogWatch{&held};
    // A second thread notes how far the installation was when the lock went.
    struct Unlocked {
        HeldLock* lock;
        INSTALLSTATE state = INSTALLSTATE_INVALIDARG;
    } seen{&held};
    HANDLE watcher = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* s = static_cast<Unlocked*>(p);
            for (DWORD start = GetTickCount(); s->lock->Held() && GetTickCount() - start < 60000;) Sleep(0);
            s->state = ProductState();
            return 0;
        },
        &seen, 0, nullptr);
    HHOOK hook = SetWindowsHookExW(WH_CBT, WatchDialogs, nullptr, GetCurrentThreadId());

    EXPECT_EQ(install(L"CALLER=SETUP", &held.lock, log_.c_str(), 0), 0);
    UnhookWindowsHookEx(hook);
    WaitForSingleObject(watcher, 10000);
    CloseHandle(watcher);

    EXPECT_GE(g_watch.dialogs, 1) << "the installer showed no progress dialog";
    EXPECT_EQ(g_watch.heldAtFirstDialog, 0);
    EXPECT_EQ(seen.state, INSTALLSTATE_UNKNOWN) << "the lock went only after the installation";
    ExpectInstalledFiles();
}

TEST_F(InstallActionsTest, ASecondCallRepairsTheInstalledProduct) {
    auto install = InstalledOnceWithAFileMissing();
    ASSERT_NE(install, nullptr);

    HeldLock held;
    EXPECT_EQ(install(L"CALLER=SETUP", &held.lock, log_.c_str(), 0), 0);
    EXPECT_EQ(held.Held(), 0);
    ExpectInstalledFiles();
}

TEST_F(InstallActionsTest, AfterTheRestartAnInstalledProductIsLeftAlone) {
    auto install = InstalledOnceWithAFileMissing();
    ASSERT_NE(install, nullptr);
    // Neither a missing file nor a missing package matters: no installer runs.
    ASSERT_TRUE(DeleteFileW((folder_ + kPackage).c_str()));

    HeldLock held;
    EXPECT_EQ(install(L"AFTERREBOOT=YES CALLER=SETUP", &held.lock, log_.c_str(), 0), 0);
    EXPECT_EQ(held.Held(), 0);
    EXPECT_EQ(ProductState(), INSTALLSTATE_DEFAULT);
    EXPECT_FALSE(PathExists(std::wstring(kInstallDir) + L"readme.txt"));
}

TEST_F(InstallActionsTest, AfterTheRestartAMissingProductIsInstalled) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    PutPackage(folder_);
    HeldLock held;
    EXPECT_EQ(install(L"AFTERREBOOT=YES CALLER=SETUP", &held.lock, log_.c_str(), 0), 0);
    EXPECT_EQ(held.Held(), 0);
    ExpectInstalledFiles();
}

// The record as the launcher writes it: REG_SZ data without a terminator.
void WriteRecord(const std::wstring& data, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceRecordKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    const std::wstring unterminated = data + L"X";  // the character after the data is not NUL
    RegSetValueExW(key, L"SourcePath", 0, type, reinterpret_cast<const BYTE*>(unterminated.c_str()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    RegCloseKey(key);
}

TEST_F(InstallActionsTest, FindsThePackageThroughTheRecordedSourceFolder) {
    auto install = Load(folder_ + L"cache\\");
    ASSERT_NE(install, nullptr);
    const std::wstring source = folder_ + L"source\\";
    PutPackage(source);
    for (const std::wstring& recorded : {source, source.substr(0, source.size() - 1)}) {
        SCOPED_TRACE(Narrow(recorded));
        DeleteFileW(log_.c_str());
        WriteRecord(recorded);
        HeldLock held;
        EXPECT_EQ(install(L"CALLER=SETUP", &held.lock, log_.c_str(), 0), 0);
        EXPECT_EQ(held.Held(), 0);
        ExpectInstalledFiles();
        EXPECT_TRUE(Contains(TraceTexts(log_), "Package in the recorded source folder: " + Narrow(source) + "QXPRP4005.msi"));
        UninstallProduct();
    }
}

// Inside a signed program (the signed copy of this host,
// module_checks_in_a_signed_host), the module installs only its own
// release's package, found beside it, handed on by the launcher or, for the
// resumed run, in the recorded source folder: not one unsigned, another
// publisher's, nor one of another release signed as the product is.
TEST_F(InstallActionsTest, InASignedProgramOnlyThisReleasesPackageIsInstalled) {
    if (!qx::ProgramCarriesSignature()) GTEST_SKIP() << "runs in the signed copy of this host";
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    const std::wstring source = folder_ + L"source\\";
    const int notThisRelease = static_cast<int>(qx::kNotThisRelease);
    const int heldForDeletion = ERROR_SHARING_VIOLATION;
    enum class Where { kBeside, kRecord, kHanded };
    const struct {
        const wchar_t* variant;   // null: this release's own
        Where where;
        bool held;                // open in another program with delete access: the check cannot open it
    } cases[] = {{L"unsigned", Where::kBeside, false}, {L"other", Where::kBeside, false},
                 {L"release", Where::kBeside, false},  {L"unsigned", Where::kRecord, false},
                 {L"release", Where::kRecord, false},  {nullptr, Where::kBeside, true},
                 {L"other", Where::kRecord, true},     {L"other", Where::kHanded, false},
                 {L"release", Where::kHanded, false},  {nullptr, Where::kHanded, true}};
    for (const auto& c : cases) {
        const char* const places[] = {" beside the module", " in the recorded source folder", " handed on"};
        SCOPED_TRACE((c.variant ? Narrow(c.variant) : std::string("this release's")) +
                     places[static_cast<int>(c.where)] + (c.held ? ", held for deletion" : ""));
        const std::wstring where = c.where == Where::kBeside ? folder_ : source;
        DeleteFileW((folder_ + kPackage).c_str());
        DeleteFileW((source + kPackage).c_str());
        if (c.variant)
            PutPackage(where, BuildDir() + L"tests\\trust\\" + c.variant + L"\\" + kPackage);
        else
            PutPackage(where);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceRecordKey);
        if (c.where == Where::kRecord) WriteRecord(source);
        DeleteFileW(log_.c_str());
        const qx::UniqueHandle other = c.held ? HoldForDeletion(where + kPackage) : qx::UniqueHandle();
        const std::wstring tail = c.where == Where::kRecord   ? L"AFTERREBOOT=YES CALLER=SETUP"
                                  : c.where == Where::kHanded ? ModuleTail(source, L"CALLER=SETUP")
                                                              : L"CALLER=SETUP";
        HeldLock held;
        EXPECT_EQ(install(tail.c_str(), &held.lock, log_.c_str(), 0), c.held ? heldForDeletion : notThisRelease);
        EXPECT_EQ(held.Held(), 0) << "the hourglass is let go";
        EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN) << "nothing installed";
        bool whole = false;
        size_t refusals = 0;
        const std::string refused = c.held ? "File refused, it could not be checked: " + Narrow(where + kPackage)
                                           : "File refused, not of this release (" + Narrow(kProductVersion) +
                                                 "): " + Narrow(where + kPackage);
        for (const auto& r : ParseLog(ReadBytes(log_), &whole))
            refusals += r.type == "ERROR" && r.text.rfind(refused, 0) == 0;
        EXPECT_EQ(refusals, 1u);
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceRecordKey);
    SCOPED_TRACE("this release's own package");
    DeleteFileW((source + kPackage).c_str());
    PutPackage(folder_);
    HeldLock held;
    EXPECT_EQ(install(L"CALLER=SETUP", &held.lock, log_.c_str(), 0), 0);
    ExpectInstalledFiles();
}

// The package the launcher hands on, first in the tail, is the one
// installed, and no other is looked for: not beside the module, not at the
// record. A PACKAGE= further on is the caller's, no package handed on, and
// reaches the installer as nothing.
TEST_F(InstallActionsTest, TheHandedOnPackageIsTheOneInstalledAndNoneIsLookedFor) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    const std::wstring disc = folder_ + L"disc with blanks\\";
    const std::wstring gone = folder_ + L"gone\\";
    const struct {
        const char* name;
        std::wstring tail;
        const wchar_t* beside;   // what lies beside the module: null the package, else a fixture
        int result;
        std::string logged;      // a record the call leaves
    } cases[] = {
        {"handed on, an unusable package beside the module", ModuleTail(disc, L"CALLER=SETUP"), L"Garbage.msi", 0,
         "Package handed on by the launcher: " + Narrow(disc) + "QXPRP4005.msi"},
        {"handed on but gone, the package beside the module", ModuleTail(gone, L"CALLER=SETUP"), nullptr,
         ERROR_FILE_NOT_FOUND, "Package " + Narrow(gone) + "QXPRP4005.msi is gone"},
        {"handed on, longer than a path", ModuleTail(folder_ + std::wstring(300, L'p') + L"\\", L"CALLER=SETUP"),
         nullptr, ERROR_FILENAME_EXCED_RANGE, ""},
        {"the caller's PACKAGE=, not first", L"CALLER=SETUP " + ModuleTail(disc, L""), nullptr, 0,
         "Package beside the module: " + Narrow(folder_) + "QXPRP4005.msi"},
    };
    PutPackage(disc);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UninstallProduct();
        DeleteFileW(log_.c_str());
        if (c.beside) {
            PutPackage(folder_, FixturesDir() + c.beside);
        } else {
            PutPackage(folder_);
        }
        HeldLock held;
        EXPECT_EQ(install(c.tail.c_str(), &held.lock, log_.c_str(), 0), c.result);
        EXPECT_EQ(held.Held(), 0) << "the hourglass is let go";
        EXPECT_EQ(ProductState(), c.result == 0 ? INSTALLSTATE_DEFAULT : INSTALLSTATE_UNKNOWN);
        const auto texts = TraceTexts(log_);
        if (!c.logged.empty()) {
            EXPECT_TRUE(Contains(texts, c.logged));
        }
        if (c.result == 0) {
            // Nothing named PACKAGE among what the installer was given.
            const auto installing = std::find_if(texts.begin(), texts.end(), [](const std::string& t) {
                return t.find("installing with") != std::string::npos;
            });
            ASSERT_NE(installing, texts.end());
            EXPECT_EQ(installing->find("PACKAGE"), std::string::npos) << *installing;
        }
    }
    UninstallProduct();
}

TEST_F(InstallActionsTest, WithoutAPackageAnywhereTheResultIsFileNotFound) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    struct Case {
        const char* name;
        std::wstring data;
        DWORD type;
    };
    const std::wstring empty = folder_ + L"empty\\";
    const std::wstring source = folder_ + L"source\\";
    CreateDirectoryW(empty.c_str(), nullptr);
    PutPackage(source);
    for (const Case& c : {Case{"no record", L"", REG_NONE}, Case{"a folder without the package", empty, REG_SZ},
                          Case{"a record that fills the buffer", std::wstring(MAX_PATH, L'A'), REG_SZ},
                          Case{"a record longer than a path", std::wstring(400, L'A'), REG_SZ},
                          Case{"the right folder as binary data", source, REG_BINARY},
                          Case{"an empty record", L"", REG_SZ}}) {
        SCOPED_TRACE(c.name);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceRecordKey);
        if (c.type != REG_NONE) WriteRecord(c.data, c.type);
        DeleteFileW(log_.c_str());
        HeldLock held;
        EXPECT_EQ(install(L"CALLER=SETUP", &held.lock, log_.c_str(), 0), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(held.Held(), 0);
        EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN);
        const auto texts = TraceTexts(log_);
        EXPECT_TRUE(Contains(texts, "DoInstallActions result: 2"));
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), "Exiting DoInstallActions");
    }
}

TEST_F(InstallActionsTest, TheRestartPackageAsksForARestart) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    PutPackage(folder_, demo_ + L"QXPRP4005-restart.msi");
    HeldLock held;
    EXPECT_EQ(install(L"CALLER=SETUP", &held.lock, log_.c_str(), 0), ERROR_SUCCESS_REBOOT_REQUIRED);
    EXPECT_EQ(held.Held(), 0);
    ExpectInstalledFiles();
}

// Answers "cancel" when the installer is about to show its progress
// dialog, as the installer's UI would on a user's cancel.
int WINAPI CancelAtProgressDialog(void* context, UINT type, LPCWSTR message) {
    if ((type & 0xFF000000) == INSTALLMESSAGE_ACTIONSTART && message && wcsstr(message, L"ProgressDlg")) {
        ++*static_cast<int*>(context);
        return IDCANCEL;
    }
    return 0;
}

TEST_F(InstallActionsTest, ACancelInTheInstallersInterfaceIsReturnedAs1602) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    PutPackage(folder_);
    int cancels = 0;
    INSTALLUI_HANDLERW previous = MsiSetExternalUIW(CancelAtProgressDialog, INSTALLLOGMODE_ACTIONSTART, &cancels);
    HeldLock held;
    const int result = install(L"CALLER=SETUP", &held.lock, log_.c_str(), 0);
    MsiSetExternalUIW(previous, 0, nullptr);

    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(result, ERROR_INSTALL_USEREXIT);
    EXPECT_EQ(held.Held(), 0);
    EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN);
    EXPECT_FALSE(PathExists(std::wstring(kInstallDir) + L"readme.txt"));
    EXPECT_TRUE(Contains(TraceTexts(log_), "DoInstallActions result: 1602"));
}

TEST_F(InstallActionsTest, NullArgumentsAnUnheldLockAndALongCommandLine) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    PutPackage(folder_);
    EXPECT_EQ(install(nullptr, nullptr, nullptr, 0), 0);
    ExpectInstalledFiles();

    // The first trace line keeps 200 characters of the command line.
    const std::wstring longTail = std::wstring(1000, L'x') + L" CALLER=SETUP";
    const std::wstring longLog = folder_ + std::wstring(300, L'l') + L".log";
    CEvent event(FALSE, FALSE, nullptr);
    UiLock unheld(&event);
    EXPECT_EQ(install(longTail.c_str(), &unheld, longLog.c_str(), 12345), 0);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder_ + L"l*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a log under a cut path";
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    EXPECT_EQ(install(longTail.c_str(), &unheld, log_.c_str(), 0), 0);
    EXPECT_FALSE(unheld.IsLocked());
    const auto texts = TraceTexts(log_);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "In DoInstallActions: " + std::string(200, 'x'));
}

TEST_F(InstallActionsTest, FollowsTheLaunchersLogLevel) {
    auto install = Load(folder_);
    ASSERT_NE(install, nullptr);
    PutPackage(folder_);
    struct Case {
        DWORD type;
        unsigned long long value;
        DWORD size;
        bool traces;
    };
    // ERROR only; TRACE only; a value too long to be a level: the default.
    for (const Case& c : {Case{REG_DWORD, 2, 4, false}, Case{REG_DWORD, 0x10, 4, true},
                          Case{REG_QWORD, 2, 8, true}}) {
        SCOPED_TRACE(c.value);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLogLevelKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
        RegSetValueExW(key, L"LogLevel", 0, c.type, reinterpret_cast<const BYTE*>(&c.value), c.size);
        RegCloseKey(key);
        DeleteFileW(log_.c_str());
        EXPECT_EQ(install(L"CALLER=SETUP", nullptr, log_.c_str(), 0), 0);
        EXPECT_EQ(PathExists(log_), c.traces);
        if (c.traces) {
            EXPECT_EQ(TraceTexts(log_).back(), "Exiting DoInstallActions");
        }
    }
}

using DemoPackageTest = ProductTest;

std::wstring Property(MSIHANDLE db, const std::wstring& name) {
    MSIHANDLE view = 0, record = 0;
    const std::wstring query = L"SELECT `Value` FROM `Property` WHERE `Property`='" + name + L"'";
    std::wstring value;
    if (MsiDatabaseOpenViewW(db, query.c_str(), &view) == 0 && MsiViewExecute(view, 0) == 0 &&
        MsiViewFetch(view, &record) == 0) {
        wchar_t buf[256] = {};
        DWORD n = 256;
        if (MsiRecordGetStringW(record, 1, buf, &n) == 0) value = buf;
    }
    if (record) MsiCloseHandle(record);
    if (view) MsiCloseHandle(view);
    return value;
}

// What Windows Installer reports of the installed product.
std::wstring InstalledInfo(const wchar_t* property) {
    wchar_t value[256] = {};
    DWORD n = 256;
    return MsiGetProductInfoW(kProductGuid, property, value, &n) == ERROR_SUCCESS ? value : L"(none)";
}

// The product's state in the machine-wide installation context ("5" for
// installed); "(none)" when it is not installed for the machine.
std::wstring MachineWideState() {
    wchar_t value[16] = {};
    DWORD n = 16;
    return MsiGetProductInfoExW(kProductGuid, nullptr, MSIINSTALLCONTEXT_MACHINE, INSTALLPROPERTY_PRODUCTSTATE, value,
                                &n) == ERROR_SUCCESS
               ? value
               : L"(none)";
}

// The products Windows Installer counts as one family under an upgrade code.
std::vector<std::wstring> RelatedProducts(const std::wstring& upgradeCode) {
    std::vector<std::wstring> products;
    wchar_t product[39] = {};
    for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, product) == ERROR_SUCCESS; ++i)
        products.push_back(product);
    return products;
}

TEST_F(DemoPackageTest, BothPackagesCarryTheProductsIdentityOnlyOneAsksForARestart) {
    // Each package installed as it ships, judged by what the installer says
    // and reports afterwards, not by its tables.
    qx::UniqueMsiHandle<MsiCloseHandle> db;
    ASSERT_EQ(MsiOpenDatabaseW((product_ + kPackage).c_str(), MSIDBOPEN_READONLY, db.put()), 0u);
    const std::wstring upgradeCode = Property(db.get(), L"UpgradeCode");
    db.reset();
    ASSERT_EQ(upgradeCode.size(), 38u);
    struct Case {
        std::wstring path;
        UINT result;
    };
    for (const Case& c : {Case{product_ + kPackage, ERROR_SUCCESS},
                          Case{demo_ + L"QXPRP4005-restart.msi", static_cast<UINT>(ERROR_SUCCESS_REBOOT_REQUIRED)}}) {
        SCOPED_TRACE(Narrow(c.path));
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        EXPECT_EQ(MsiInstallProductW(c.path.c_str(), L""), c.result) << "only the restart package asks for one";
        EXPECT_EQ(ProductState(), INSTALLSTATE_DEFAULT) << "installed under the product's code";
        EXPECT_EQ(InstalledInfo(INSTALLPROPERTY_INSTALLEDPRODUCTNAME), L"QX Prism P4000 Series");
        EXPECT_EQ(InstalledInfo(INSTALLPROPERTY_PUBLISHER), L"Selkirk-Vane");
        EXPECT_EQ(InstalledInfo(INSTALLPROPERTY_VERSIONSTRING), L"1.0.0");
        EXPECT_EQ(MachineWideState(), L"5") << "installed for every user of the machine";
        EXPECT_EQ(RelatedProducts(upgradeCode), std::vector<std::wstring>{kProductGuid}) << "one product family";
        UninstallProduct();
        ASSERT_EQ(ProductState(), INSTALLSTATE_UNKNOWN);
    }
}

std::wstring ArpValue(const wchar_t* name, DWORD* number = nullptr) {
    wchar_t buf[512] = {};
    DWORD size = sizeof buf - sizeof(wchar_t);
    DWORD type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kArpKey, name, RRF_RT_ANY, &type, buf, &size))
        return L"(none)";
    if (number && type == REG_DWORD) memcpy(number, buf, sizeof *number);
    return buf;
}

TEST_F(DemoPackageTest, InstallsUnderProgramFiles64WithAnAddRemoveProgramsEntry) {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ASSERT_EQ(MsiInstallProductW((product_ + kPackage).c_str(), L""), 0u);
    ExpectInstalledFiles();
    EXPECT_FALSE(PathExists(L"C:\\Program Files (x86)\\Selkirk-Vane"));
    EXPECT_EQ(ArpValue(L"DisplayName"), L"QX Prism P4000 Series");
    EXPECT_EQ(ArpValue(L"Publisher"), L"Selkirk-Vane");
    EXPECT_EQ(ArpValue(L"DisplayVersion"), L"1.0.0");
    EXPECT_EQ(ArpValue(L"Contact"), L"Selkirk-Vane Customer Support");
    EXPECT_EQ(ArpValue(L"URLInfoAbout"), L"https://www.selkirk-vane.example/");
    DWORD noModify = 0;
    ArpValue(L"NoModify", &noModify);
    EXPECT_EQ(noModify, 1u);

    ASSERT_EQ(MsiConfigureProductW(kProductGuid, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), 0u);
    EXPECT_EQ(ProductState(), INSTALLSTATE_UNKNOWN);
    EXPECT_FALSE(PathExists(std::wstring(kInstallDir) + L"QXPRP4005.inf"));
    EXPECT_EQ(ArpValue(L"DisplayName"), L"(none)");
}

}  // namespace
