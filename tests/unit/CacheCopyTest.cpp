#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "cache/CacheCopy.h"
#include "cache/CacheFolderGuard.h"
#include "cache/PendingDeletions.h"
#include "diag/Logger.h"
#include "framework/Ownership.h"
#include "tests/support/Harness.h"
#include "tests/support/Links.h"
#include "tests/support/TemporaryLog.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kRoot[] = L"C:\\qxtest-unit\\cache\\";

class CacheFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        fs::remove_all(kRoot, ec);
        fs::create_directories(kRoot);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(L"C:\\qxtest-unit", ec);
    }
    static std::wstring At(const std::wstring& relative) { return kRoot + relative; }
    static void Put(const std::wstring& relative, const std::string& content) {
        ASSERT_TRUE(qxtest::PutFile(At(relative), content));
    }
    static std::string Get(const std::wstring& relative) { return qxtest::ReadBytes(At(relative)); }
    // Every entry below a folder, folders with a trailing backslash.
    static std::set<std::wstring> Tree(const std::wstring& relative) {
        std::set<std::wstring> names;
        const fs::path top = At(relative);
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(top, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            names.insert(fs::relative(it->path(), top).wstring() + (it->is_directory() ? L"\\" : L""));
        return names;
    }
    // A source folder of the launcher's shape.
    static void MakeSource(const std::wstring& src) {
        Put(src + L"a.dll", "A");
        Put(src + L"b.dll", "B");
        Put(src + L"sub.dll\\inner.dll", "I");
        Put(src + L"sub.dll\\QXVSetup.exe", "L32 below");
        Put(src + L"plain\\p.dll", "P");
        Put(src + L"QXPRP4005.msi", "package");
        Put(src + L"readme.txt", "text");
        Put(src + L"QXVSetup64.exe", "L64");
    }
};

TEST_F(CacheFolderTest, CopiesDllsAndLaunchersAtEveryLevelReplacingWhatIsThere) {
    MakeSource(L"src\\");
    Put(L"dst\\a.dll", "old");
    Put(L"dst\\QXVSetup64.exe", "old");
    // What an interrupted copy leaves under the new name is replaced too.
    Put(L"dst\\b.dll.qxnew", "half");
    EXPECT_FALSE(CopyInstallSource(At(L"src\\").c_str(), At(L"dst\\").c_str()));
    EXPECT_EQ(Tree(L"dst"), (std::set<std::wstring>{L"a.dll", L"b.dll", L"sub.dll\\", L"sub.dll\\inner.dll",
                                                    L"sub.dll\\QXVSetup.exe", L"QXVSetup64.exe"}));
    EXPECT_EQ(Get(L"dst\\a.dll"), "A");
    EXPECT_EQ(Get(L"dst\\b.dll"), "B");
    EXPECT_EQ(Get(L"dst\\QXVSetup64.exe"), "L64");
    EXPECT_EQ(Get(L"dst\\sub.dll\\inner.dll"), "I");
}

// Files from a read-only medium (a disc: every file read-only, some hidden
// or system): the cache's copies carry none of that, so a later run
// replaces them and the deletion removes them; a read-only copy an earlier
// run left is replaced too.
TEST_F(CacheFolderTest, CopiesAreTheCachesOwnWhateverTheSourcesAttributes) {
    MakeSource(L"disc\\");
    constexpr DWORD kForeign = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const struct {
        const wchar_t* file;
        DWORD attributes;
    } sources[] = {{L"a.dll", FILE_ATTRIBUTE_READONLY},
                   {L"b.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
                   {L"sub.dll\\inner.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM},
                   {L"QXVSetup64.exe", FILE_ATTRIBUTE_READONLY}};
    for (const auto& f : sources) ASSERT_TRUE(SetFileAttributesW(At(std::wstring(L"disc\\") + f.file).c_str(), f.attributes));
    Put(L"dst\\QXVSetup64.exe", "old");
    ASSERT_TRUE(SetFileAttributesW(At(L"dst\\QXVSetup64.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    CopyInstallSource(At(L"disc\\").c_str(), At(L"dst\\").c_str());
    for (const auto& f : sources) {
        SCOPED_TRACE(qxtest::Narrow(f.file));
        const std::wstring copy = At(std::wstring(L"dst\\") + f.file);
        const DWORD attributes = GetFileAttributesW(copy.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(attributes & kForeign, 0u);
        EXPECT_EQ(qxtest::ReadBytes(copy), qxtest::ReadBytes(At(std::wstring(L"disc\\") + f.file)));
    }
    DeleteInstallSourceCache(At(L"dst\\").c_str());
    EXPECT_TRUE(Tree(L"dst").empty()) << "every copy deleted";
    for (const auto& f : sources) SetFileAttributesW(At(std::wstring(L"disc\\") + f.file).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(CacheFolderTest, SourceWithoutDllsStillMakesTheFolderAndCopiesTheLauncher) {
    Put(L"bare\\QXVSetup.exe", "L32");
    Put(L"bare\\notes.txt", "text");
    EXPECT_FALSE(CopyInstallSource(At(L"bare").c_str(), At(L"new\\Selkirk-Vane\\QX Prism P4000 Series\\").c_str()));
    EXPECT_EQ(Tree(L"new"), (std::set<std::wstring>{L"Selkirk-Vane\\", L"Selkirk-Vane\\QX Prism P4000 Series\\",
                                                    L"Selkirk-Vane\\QX Prism P4000 Series\\QXVSetup.exe"}));
}

TEST_F(CacheFolderTest, NeverCopiesAFolderIntoItself) {
    MakeSource(L"src\\");
    const auto before = Tree(L"src");
    // The same folder, spelled otherwise.
    EXPECT_FALSE(CopyInstallSource(At(L"src\\").c_str(), L"C:\\QXTEST-UNIT\\cache\\src"));
    EXPECT_EQ(Tree(L"src"), before);
    EXPECT_EQ(Get(L"src\\a.dll"), "A");

    // Inside the source, in a folder that matches the pattern itself, or
    // below one that does.
    EXPECT_FALSE(CopyInstallSource(At(L"src\\").c_str(), At(L"src\\cache.dll\\").c_str()));
    EXPECT_EQ(Tree(L"src\\cache.dll"), (std::set<std::wstring>{L"a.dll", L"b.dll", L"sub.dll\\", L"sub.dll\\inner.dll",
                                                               L"sub.dll\\QXVSetup.exe", L"QXVSetup64.exe"}));
    fs::remove_all(At(L"src\\cache.dll"));
    EXPECT_FALSE(CopyInstallSource(At(L"src\\").c_str(), At(L"src\\sub.dll\\out\\").c_str()));
    EXPECT_EQ(Tree(L"src\\sub.dll\\out"), (std::set<std::wstring>{L"a.dll", L"b.dll", L"QXVSetup64.exe"}));
}

// Sources of other shapes than the product folder's copy what they hold
// and say the cache is not whole: a resumed run would lack its modules.
TEST_F(CacheFolderTest, TheCacheIsWholeOnlyWithEveryFileAResumedRunNeedsEqualToItsSource) {
    for (size_t i = 0; i < kResumeFileCount; ++i) Put(std::wstring(L"whole\\") + kResumeFiles[i], "file " + std::to_string(i));
    std::wstring lacking = L"(unset)";
    EXPECT_TRUE(CopyInstallSource(At(L"whole\\").c_str(), At(L"wc\\").c_str(), &lacking));
    EXPECT_EQ(lacking, L"");
    EXPECT_TRUE(CacheIsWhole(At(L"whole\\").c_str(), At(L"wc\\").c_str()));
    EXPECT_TRUE(CacheIsWhole(nullptr, At(L"wc\\").c_str())) << "a resumed run checks presence alone";

    struct Case {
        const char* what;
        const wchar_t* file;
        bool removeFromCache;   // else: changed in the cache after the copy
    };
    for (const Case& c : {Case{"a module missing", L"QXVInstallActions64.dll", true},
                          Case{"the launcher changed", L"QXVSetup64.exe", false},
                          Case{"the resource module missing", L"QXVSetupRES64.dll", true}}) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(CopyInstallSource(At(L"whole\\").c_str(), At(L"wc\\").c_str()));
        if (c.removeFromCache)
            fs::remove(At(L"wc\\") + c.file);
        else
            Put(std::wstring(L"wc\\") + c.file, "same size?");
        EXPECT_FALSE(CacheIsWhole(At(L"whole\\").c_str(), At(L"wc\\").c_str(), &lacking));
        EXPECT_EQ(lacking, c.file);
    }
    fs::remove(At(L"whole\\CustomActionData64.dll"));
    EXPECT_FALSE(CopyInstallSource(At(L"whole\\").c_str(), At(L"wc2\\").c_str(), &lacking)) << "missing from the source";
    EXPECT_EQ(lacking, L"CustomActionData64.dll");
}

TEST_F(CacheFolderTest, PathsBeyondMaxPathAreSkippedNotCut) {
    Put(L"src\\a.dll", "A");
    Put(L"src\\abcdefghijklmnopqrstuvwxyz0123.dll", "long");
    const std::wstring deep = L"deep\\" + std::wstring(205, L'd') + L"\\";
    ASSERT_EQ(At(deep).size(), 232u);
    EXPECT_FALSE(CopyInstallSource(At(L"src\\").c_str(), At(deep).c_str()));
    EXPECT_EQ(Tree(deep), std::set<std::wstring>{L"a.dll"});
}

TEST_F(CacheFolderTest, DeletionEmptiesTheFolderAndTouchesNothingElse) {
    Put(L"del\\x.dll", "x");
    Put(L"del\\sub.dll\\y.dll", "y");
    Put(L"del\\QXVSetup64.exe", "L64");
    Put(L"beside.txt", "keep");
    // Text past the terminator: the shell's list must still end after the pattern.
    wchar_t folder[MAX_PATH];
    for (auto& c : folder) c = L'Q';
    wcscpy(folder, At(L"del\\").c_str());
    DeleteInstallSourceCache(folder);
    EXPECT_TRUE(fs::is_directory(At(L"del")));
    EXPECT_TRUE(Tree(L"del").empty());
    EXPECT_EQ(Get(L"beside.txt"), "keep");
}

TEST_F(CacheFolderTest, DeletionKeepsOnlyTheFileInUse) {
    qxtest::DeleteValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    Put(L"del\\a.dll", "a");
    Put(L"del\\busy.dll", "busy");
    Put(L"del\\c.dll", "c");
    Put(L"del\\z.dll\\inner.dll", "z");
    HANDLE busy = CreateFileW(At(L"del\\busy.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    DeleteInstallSourceCache(At(L"del\\").c_str());
    CloseHandle(busy);
    EXPECT_EQ(Tree(L"del"), std::set<std::wstring>{L"busy.dll"}) << "what is not in use goes";
    EXPECT_EQ(Get(L"del\\busy.dll"), "busy");
    EXPECT_TRUE(qxtest::PendingRenames().empty()) << "only the product's own cache is emptied at the restart";
    DeleteInstallSourceCache(At(L"del\\").c_str());
    EXPECT_TRUE(fs::is_directory(At(L"del")));
    EXPECT_TRUE(Tree(L"del").empty());
}

// The product's own cache, emptied while entries are in use (held open, or
// mapped as a module): each of them, then each folder keeping one, then the
// cache folder, is deleted at the next restart. A link to a file in use is
// neither followed nor named.
TEST_F(CacheFolderTest, InTheProductsCacheWhatIsInUseIsDeletedAtTheNextRestart) {
    const qxtest::TemporaryLog log(L"unit-restart");
    const std::wstring cache = qxtest::CacheFolder();
    const std::wstring folder = cache.substr(0, cache.size() - 1);
    qxtest::RemoveCache();
    qxtest::DeleteValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    for (const wchar_t* name : {L"free.dll", L"held.dll", L"sub.dll\\held.dll", L"sub.dll\\free.dll", L"idle\\free.dll"})
        ASSERT_TRUE(qxtest::PutFile(cache + name, "x"));
    Put(L"outside.dll", "outside");
    ASSERT_TRUE(qxtest::MakeLink(cache + L"link.dll", At(L"outside.dll")));
    ASSERT_TRUE(CopyFileW((qxtest::ProgramFolder() + L"CustomActionData64.dll").c_str(), (cache + L"module.dll").c_str(),
                          FALSE));
    qx::UniqueModule module(
        LoadLibraryExW((cache + L"module.dll").c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    std::vector<qx::UniqueHandle> held;
    for (const std::wstring& path : {cache + L"held.dll", cache + L"sub.dll\\held.dll", At(L"outside.dll")}) {
        held.emplace_back(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.back());
    }
    DeleteInstallSourceCache(cache.c_str());
    held.clear();
    module.reset();

    std::vector<std::wstring> scheduled;
    for (const auto& [source, destination] : qxtest::PendingRenames()) {
        EXPECT_EQ(destination, L"") << "a deletion";
        scheduled.push_back(source);
    }
    qxtest::DeleteValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    const auto nt = [&](const std::wstring& relative) { return L"\\??\\" + cache + relative; };
    EXPECT_EQ(std::set<std::wstring>(scheduled.begin(), scheduled.end()),
              (std::set<std::wstring>{nt(L"held.dll"), nt(L"module.dll"), nt(L"sub.dll\\held.dll"), nt(L"sub.dll"),
                                      L"\\??\\" + folder}));
    const auto position = [&](const std::wstring& source) {
        return std::find(scheduled.begin(), scheduled.end(), source) - scheduled.begin();
    };
    EXPECT_LT(position(nt(L"sub.dll\\held.dll")), position(nt(L"sub.dll"))) << "a folder after what it keeps";
    EXPECT_EQ(scheduled.back(), L"\\??\\" + folder) << "the cache folder last";
    for (const wchar_t* gone : {L"free.dll", L"sub.dll\\free.dll", L"idle"})
        EXPECT_FALSE(qxtest::PathExists(cache + gone)) << qxtest::Narrow(gone);
    EXPECT_EQ(qxtest::ReadBytes(cache + L"link.dll"), "outside") << "the link stays, its target untouched";
    EXPECT_EQ(Get(L"outside.dll"), "outside");

    CLogger::Instance().Reset();
    size_t traced = 0;
    for (const std::string& text : log.Texts("TRACE")) traced += text.rfind("Deletion at the next restart: C:\\", 0) == 0;
    EXPECT_EQ(traced, 5u);
    const auto errors = log.Texts("ERROR");
    EXPECT_TRUE(std::any_of(errors.begin(), errors.end(),
                            [](const std::string& e) { return e.find("link left in place") != std::string::npos; }));
    qxtest::RemoveCache();
}

TEST_F(CacheFolderTest, DeletionRefusesAFolderThatIsNotPlainlyItsOwn) {
    const qxtest::TemporaryLog log(L"unit-delete");
    Put(L"del\\sub\\x.dll", "x");
    for (const std::wstring& refused : {At(L"del"), At(L"del\\sub\\..\\"), At(L"del\\.\\"), At(L"del/")})
        DeleteInstallSourceCache(refused.c_str());
    CLogger::Instance().Reset();
    EXPECT_EQ(Get(L"del\\sub\\x.dll"), "x");
    const std::string text = log.Bytes();
    size_t errors = 0, entries = 0;
    for (size_t p = 0; (p = text.find("LOG TYPE: ERROR", p)) != std::string::npos; ++p) ++errors;
    for (size_t p = 0; (p = text.find("In DeleteInstallSourceCache", p)) != std::string::npos; ++p) ++entries;
    EXPECT_EQ(errors, 4u);
    EXPECT_EQ(entries, 4u);
}

TEST(EmptiableFolder, OnlyAbsoluteFoldersBelowARootEndingInABackslash) {
    const std::wstring tooLong = L"C:\\" + std::wstring(253, L'f') + L"\\";
    for (const wchar_t* refused :
         {L"", L"\\", L"C:\\", L"z:\\", L"C:", L"C:/", L"C:foo\\", L"foo\\", L"\\foo\\", L"C:\\qxtest-unit\\cache",
          L"C:\\a\\..\\", L"C:\\a\\.\\", L"C:\\a\\\\", L"C:\\a/..\\", L"C:\\*\\", L"C:\\a?\\", L"C:\\a\\b:c\\",
          L"\\\\server\\share\\", L"\\\\server\\\\", L"\\\\?\\C:\\x\\", L"\\\\.\\C:\\x\\", tooLong.c_str()}) {
        std::wstring reason;
        EXPECT_FALSE(IsEmptiableFolder(refused, &reason)) << std::string(refused, refused + wcslen(refused));
        EXPECT_NE(reason, L"");
    }
    EXPECT_FALSE(IsEmptiableFolder(nullptr, nullptr));
    for (const wchar_t* accepted : {L"C:\\qxtest-unit\\cache\\", L"d:\\x\\", L"\\\\server\\share\\folder\\"})
        EXPECT_TRUE(IsEmptiableFolder(accepted, nullptr)) << std::string(accepted, accepted + wcslen(accepted));
    EXPECT_TRUE(IsEmptiableFolder((L"C:\\" + std::wstring(252, L'f') + L"\\").c_str(), nullptr));
}

}  // namespace
