// What the launcher trusts in the file system: an entry only when it is
// itself and no link, the access rights it gives the folders it makes, and
// the cache folder held from the common application-data folder down.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cache/CacheCopy.h"
#include "cache/CacheFolderHold.h"
#include "diag/LogSetup.h"
#include "diag/Logger.h"
#include "framework/FileLinks.h"
#include "framework/FolderSecurity.h"
#include "tests/support/Files.h"
#include "tests/support/Links.h"
#include "tests/support/Paths.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kRoot[] = L"C:\\qxtest-unit\\trust\\";
constexpr wchar_t kOutside[] = L"C:\\qxtest-unit\\outside\\";

using qxtest::CommonAppData;
using qxtest::PutFile;
using qxtest::ReadBytes;

class FolderTrustTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        // Never through a link: removing through one would empty its target.
        qxtest::RemoveTreeNoFollow(L"C:\\qxtest-unit");
        qxtest::RemoveTreeNoFollow(CommonAppData() + L"\\Selkirk-Vane");
        fs::create_directories(kRoot);
        PutFile(std::wstring(kOutside) + L"victim.txt", "victim");
    }
    static qx::EntryCheck Check(const std::wstring& path, bool* isFolder = nullptr) {
        qx::UniqueHandle entry;
        std::wstring final;
        return qx::OpenChecked(path, 0, entry, final, isFolder);
    }
};

TEST_F(FolderTrustTest, AnEntryIsItselfOnlyWithoutALinkInItsPlace) {
    PutFile(std::wstring(kRoot) + L"file.txt", "x");
    fs::create_directories(std::wstring(kRoot) + L"folder");
    ASSERT_TRUE(qxtest::MakeLink(std::wstring(kRoot) + L"folderlink", kOutside));
    ASSERT_TRUE(qxtest::MakeLink(std::wstring(kRoot) + L"filelink", std::wstring(kOutside) + L"victim.txt"));

    bool isFolder = false;
    EXPECT_EQ(Check(std::wstring(kRoot) + L"folder", &isFolder), qx::EntryCheck::kItself);
    EXPECT_TRUE(isFolder);
    EXPECT_EQ(Check(std::wstring(kRoot) + L"FILE.TXT", &isFolder), qx::EntryCheck::kItself) << "case does not matter";
    EXPECT_FALSE(isFolder);
    // Whichever way the system shows them: as the link itself or as what
    // it points at, never as the entry meant. (Only the last level is
    // checked here; the levels above are the holder's to check.)
    for (const wchar_t* link : {L"folderlink", L"filelink"}) {
        const qx::EntryCheck check = Check(std::wstring(kRoot) + link);
        EXPECT_TRUE(check == qx::EntryCheck::kLinkItself || check == qx::EntryCheck::kElsewhere)
            << static_cast<int>(check);
    }
    EXPECT_EQ(Check(std::wstring(kRoot) + L"missing"), qx::EntryCheck::kUnknown);
}

TEST_F(FolderTrustTest, ListingThroughTheHandleSeesEveryName) {
    // More names than one read of the listing holds.
    const std::wstring folder = std::wstring(kRoot) + L"many\\";
    for (int i = 0; i < 400; ++i) PutFile(folder + L"entry-with-a-longer-name-" + std::to_wstring(i) + L".dll", "");
    qx::UniqueHandle handle = qx::OpenEntry(folder.c_str(), FILE_LIST_DIRECTORY);
    ASSERT_TRUE(handle);
    std::vector<std::wstring> names;
    EXPECT_TRUE(qx::ListFolder(handle.get(), names));
    EXPECT_EQ(names.size(), 400u);
    EXPECT_FALSE(qx::ListFolder(handle.get(), names, 10)) << "a bounded listing says it stopped short";
    EXPECT_EQ(names.size(), 10u);
}

TEST_F(FolderTrustTest, DeletionThroughTheHandleTakesReadOnlyFilesToo) {
    const std::wstring file = std::wstring(kRoot) + L"ro.dll";
    PutFile(file, "r");
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        qx::UniqueHandle handle = qx::OpenEntry(file.c_str(), DELETE | FILE_WRITE_ATTRIBUTES);
        ASSERT_TRUE(handle);
        EXPECT_TRUE(qx::DeleteThroughHandle(handle.get()));
    }
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The access list of a descriptor, entry by entry.
struct Ace {
    std::wstring sid;
    ACCESS_MASK mask;
    BYTE flags;
};
std::vector<Ace> Aces(PSECURITY_DESCRIPTOR descriptor) {
    std::vector<Ace> out;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return out;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!GetAce(dacl, i, &raw)) continue;
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
            out.push_back({L"(not an allow entry)", 0, 0});
            continue;
        }
        wchar_t* text = nullptr;
        ConvertSidToStringSidW(&ace->SidStart, &text);
        out.push_back({text ? text : L"?", ace->Mask, ace->Header.AceFlags});
        LocalFree(text);
    }
    return out;
}
std::wstring OwnerText(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    wchar_t* text = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !ConvertSidToStringSidW(owner, &text))
        return L"";
    std::wstring s = text;
    LocalFree(text);
    return s;
}
bool Protected(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED);
}
constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

TEST_F(FolderTrustTest, CacheLevelsAreAdministratorsOwnAndOnlyReadableByUsers) {
    qx::UniqueLocal descriptor = qx::BuildCacheFolderDescriptor(true);
    ASSERT_TRUE(descriptor);
    EXPECT_EQ(OwnerText(descriptor.get()), L"S-1-5-32-544");
    EXPECT_TRUE(Protected(descriptor.get())) << "nothing inherited from the parent";
    const auto aces = Aces(descriptor.get());
    ASSERT_EQ(aces.size(), 3u);
    EXPECT_EQ(aces[0].sid, L"S-1-5-18");
    EXPECT_EQ(aces[0].mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(aces[1].sid, L"S-1-5-32-544");
    EXPECT_EQ(aces[1].mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(aces[2].sid, L"S-1-5-32-545");
    EXPECT_EQ(aces[2].mask, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
    for (const Ace& a : aces) EXPECT_EQ(a.flags & kInherited, kInherited) << "passed on to what the folder holds";
    EXPECT_EQ(aces[2].mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD),
              0u);

    qx::UniqueLocal ownerless = qx::BuildCacheFolderDescriptor(false);
    ASSERT_TRUE(ownerless);
    EXPECT_EQ(OwnerText(ownerless.get()), L"");
    EXPECT_TRUE(Protected(ownerless.get()));
    EXPECT_EQ(Aces(ownerless.get()).size(), 3u);
}

TEST_F(FolderTrustTest, LogFolderBelongsToTheUserAndAdministrators) {
    const qx::Sid user = qx::CurrentUserSid();
    ASSERT_FALSE(user.empty());
    wchar_t* userText = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(const_cast<BYTE*>(user.data()), &userText));
    const std::wstring expectedUser = userText;
    LocalFree(userText);

    qx::UniqueLocal descriptor = qx::BuildLogFolderDescriptor(user);
    ASSERT_TRUE(descriptor);
    EXPECT_EQ(OwnerText(descriptor.get()), expectedUser);
    EXPECT_TRUE(Protected(descriptor.get()));
    const auto aces = Aces(descriptor.get());
    ASSERT_EQ(aces.size(), 3u);
    EXPECT_EQ(aces[0].sid, L"S-1-5-18");
    EXPECT_EQ(aces[1].sid, L"S-1-5-32-544");
    EXPECT_EQ(aces[2].sid, expectedUser);
    for (const Ace& a : aces) EXPECT_EQ(a.mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_FALSE(qx::BuildLogFolderDescriptor(qx::Sid())) << "no user, no descriptor";
}

TEST_F(FolderTrustTest, OwnersTrustedForTheCacheAreAdministratorsAndSystemOnly) {
    auto wellKnown = [](WELL_KNOWN_SID_TYPE type) {
        qx::Sid sid(SECURITY_MAX_SID_SIZE);
        DWORD size = static_cast<DWORD>(sid.size());
        CreateWellKnownSid(type, nullptr, sid.data(), &size);
        sid.resize(size);
        return sid;
    };
    EXPECT_TRUE(qx::IsAdministratorsOrSystem(wellKnown(WinBuiltinAdministratorsSid)));
    EXPECT_TRUE(qx::IsAdministratorsOrSystem(wellKnown(WinLocalSystemSid)));
    EXPECT_FALSE(qx::IsAdministratorsOrSystem(wellKnown(WinBuiltinUsersSid)));
    EXPECT_FALSE(qx::IsAdministratorsOrSystem(wellKnown(WinWorldSid)));
    EXPECT_FALSE(qx::IsAdministratorsOrSystem(wellKnown(WinAuthenticatedUserSid)));
    EXPECT_FALSE(qx::IsAdministratorsOrSystem(qx::Sid()));
}

TEST_F(FolderTrustTest, CacheFolderIsCreatedAndHeldLevelByLevel) {
    const std::wstring cache = CommonAppData() + L"\\Selkirk-Vane\\QX Prism P4000 Series\\";
    CacheFolderHold hold;
    std::wstring reason;
    ASSERT_TRUE(HoldCacheFolder(cache.c_str(), true, hold, &reason)) << std::string(reason.begin(), reason.end());
    EXPECT_TRUE(hold.trusted) << "made by the launcher itself";
    EXPECT_EQ(hold.levels.size(), 2u);
    EXPECT_NE(GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);
    // While held, no level can be renamed away and replaced.
    EXPECT_FALSE(MoveFileW((CommonAppData() + L"\\Selkirk-Vane").c_str(), (CommonAppData() + L"\\qx-moved").c_str()));
    EXPECT_FALSE(MoveFileW(cache.c_str(), (CommonAppData() + L"\\Selkirk-Vane\\moved").c_str()));
    hold = CacheFolderHold();

    CacheFolderHold again;
    ASSERT_TRUE(HoldCacheFolder(cache.c_str(), false, again, &reason)) << "an existing folder is opened";
    EXPECT_EQ(again.levels.size(), 2u);

    // Not the common application-data folder and two plain levels: refused.
    for (const std::wstring& other : {std::wstring(kRoot), CommonAppData() + L"\\Selkirk-Vane\\",
                                      CommonAppData() + L"\\a\\b\\c\\", std::wstring(L"\\")}) {
        CacheFolderHold none;
        EXPECT_FALSE(HoldCacheFolder(other.c_str(), true, none, &reason));
        EXPECT_FALSE(none.Held());
    }
    CacheFolderHold missing;
    qxtest::RemoveTreeNoFollow(CommonAppData() + L"\\Selkirk-Vane");
    EXPECT_FALSE(HoldCacheFolder(cache.c_str(), false, missing, &reason)) << "opening creates nothing";
    EXPECT_EQ(GetFileAttributesW((CommonAppData() + L"\\Selkirk-Vane").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FolderTrustTest, ALinkAtEitherCacheLevelIsRefusedAndItsTargetLeftAlone) {
    const std::wstring maker = CommonAppData() + L"\\Selkirk-Vane";
    const std::wstring cache = maker + L"\\QX Prism P4000 Series\\";
    for (int level = 0; level < 2; ++level) {
        SCOPED_TRACE(level == 0 ? "manufacturer level" : "product level");
        Clean();
        if (level == 0) {
            ASSERT_TRUE(qxtest::MakeLink(maker, kOutside));
        } else {
            fs::create_directories(maker);
            ASSERT_TRUE(qxtest::MakeLink(maker + L"\\QX Prism P4000 Series", kOutside));
        }
        for (bool create : {true, false}) {
            CacheFolderHold hold;
            std::wstring reason;
            EXPECT_FALSE(HoldCacheFolder(cache.c_str(), create, hold, &reason));
            EXPECT_NE(reason.find(L"is a link"), std::wstring::npos) << std::string(reason.begin(), reason.end());
            EXPECT_FALSE(hold.Held());
        }
        EXPECT_FALSE(fs::exists(std::wstring(kOutside) + L"QX Prism P4000 Series")) << "nothing made in the target";
        EXPECT_EQ(ReadBytes(std::wstring(kOutside) + L"victim.txt"), "victim");
    }
}

TEST_F(FolderTrustTest, CopyNeverWritesThroughALinkInTheCache) {
    const std::wstring source = std::wstring(kRoot) + L"src\\";
    const std::wstring cache = std::wstring(kRoot) + L"cache\\";
    PutFile(source + L"a.dll", "new A");
    PutFile(source + L"sub.dll\\inner.dll", "new inner");
    PutFile(source + L"QXVSetup64.exe", "new launcher");
    fs::create_directories(cache);
    // A module's name and a folder the copy fills, both links out of the cache.
    ASSERT_TRUE(qxtest::MakeLink(cache + L"a.dll", std::wstring(kOutside) + L"victim.txt"));
    ASSERT_TRUE(qxtest::MakeLink(cache + L"sub.dll", kOutside));
    ASSERT_TRUE(qxtest::MakeLink(cache + L"QXVSetup64.exe", std::wstring(kOutside) + L"planted.exe"));

    EXPECT_FALSE(CopyInstallSource(source.c_str(), cache.c_str()));

    EXPECT_EQ(ReadBytes(std::wstring(kOutside) + L"victim.txt"), "victim");
    EXPECT_FALSE(fs::exists(std::wstring(kOutside) + L"inner.dll")) << "the folder link was not entered";
    EXPECT_FALSE(fs::exists(std::wstring(kOutside) + L"planted.exe")) << "a dangling link was not followed";
    // Where the system can replace the link itself, the copy stands there now.
    const std::string a = ReadBytes(cache + L"a.dll");
    EXPECT_TRUE(a == "new A" || a == "victim") << a;
}

TEST_F(FolderTrustTest, DeletionRemovesLinksAsEntriesAndLeavesTheirTargets) {
    const std::wstring cache = std::wstring(kRoot) + L"cache\\";
    PutFile(cache + L"a.dll", "A");
    PutFile(cache + L"sub.dll\\inner.dll", "I");
    PutFile(std::wstring(kOutside) + L"deep\\keep.dll", "K");
    ASSERT_TRUE(qxtest::MakeLink(cache + L"folderlink.dll", kOutside));
    ASSERT_TRUE(qxtest::MakeLink(cache + L"filelink.dll", std::wstring(kOutside) + L"victim.txt"));
    ASSERT_TRUE(qxtest::MakeLink(cache + L"sub.dll\\deeper", kOutside));

    DeleteInstallSourceCache(cache.c_str());

    EXPECT_EQ(ReadBytes(std::wstring(kOutside) + L"victim.txt"), "victim");
    EXPECT_EQ(ReadBytes(std::wstring(kOutside) + L"deep\\keep.dll"), "K");
    EXPECT_FALSE(fs::exists(cache + L"a.dll"));
    EXPECT_FALSE(fs::exists(cache + L"sub.dll\\inner.dll"));
    EXPECT_TRUE(fs::exists(cache)) << "the folder itself stays";

    // The cache folder itself a link: refused whole.
    ASSERT_TRUE(qxtest::MakeLink(std::wstring(kRoot) + L"cachelink", kOutside));
    DeleteInstallSourceCache((std::wstring(kRoot) + L"cachelink\\").c_str());
    EXPECT_EQ(ReadBytes(std::wstring(kOutside) + L"victim.txt"), "victim");
    EXPECT_EQ(ReadBytes(std::wstring(kOutside) + L"deep\\keep.dll"), "K");
}

class LogFolderTrustTest : public FolderTrustTest {
protected:
    void SetUp() override {
        FolderTrustTest::SetUp();
        folder_ = qxtest::LogFolder();
        folder_.pop_back();   // the folder's own entry, where a link may stand
        CLogger::Instance().Reset();
    }
    void TearDown() override {
        qxtest::RemoveTreeNoFollow(folder_);
        CLogger::Instance().Reset();
        FolderTrustTest::TearDown();
    }
    std::wstring folder_;
};

TEST_F(LogFolderTrustTest, ALinkAtTheLogFolderLeavesNoLog) {
    qxtest::RemoveTreeNoFollow(folder_);
    ASSERT_TRUE(qxtest::MakeLink(folder_, kOutside));
    wchar_t logFile[MAX_PATH] = {};
    InitializeLog(logFile);
    EXPECT_EQ(std::wstring(logFile), L"");
    LogTrace(L"nothing to write to");
    EXPECT_EQ(std::distance(fs::directory_iterator(kOutside), fs::directory_iterator()), 1) << "only the victim";
}

TEST_F(LogFolderTrustTest, AMissingLogFolderIsMadeAndUsed) {
    qxtest::RemoveTreeNoFollow(folder_);
    wchar_t logFile[MAX_PATH] = {};
    InitializeLog(logFile);
    ASSERT_NE(std::wstring(logFile), L"");
    LogTrace(L"first record");
    EXPECT_NE(ReadBytes(logFile).find("first record"), std::string::npos);
}

TEST_F(LogFolderTrustTest, TheLogFileIsNeverOpenedThroughALink) {
    wchar_t logFile[MAX_PATH] = {};
    InitializeLog(logFile);
    ASSERT_NE(std::wstring(logFile), L"");
    // Someone puts a link where the next record goes: to a file, then to
    // nowhere (a record would create the target).
    ASSERT_TRUE(qxtest::MakeLink(logFile, std::wstring(kOutside) + L"victim.txt"));
    EXPECT_FALSE(CLogger::Instance().Write(L"through a link", LOGTYPE_TRACE));
    EXPECT_EQ(ReadBytes(std::wstring(kOutside) + L"victim.txt"), "victim");
    qxtest::RemoveTreeNoFollow(folder_);
    fs::create_directories(folder_);
    ASSERT_TRUE(qxtest::MakeLink(logFile, std::wstring(kOutside) + L"created.txt"));
    EXPECT_FALSE(CLogger::Instance().Write(L"through a dangling link", LOGTYPE_TRACE));
    EXPECT_FALSE(fs::exists(std::wstring(kOutside) + L"created.txt"));
    // A second name of another file: a hard link resolves to its own path.
    qxtest::RemoveTreeNoFollow(folder_);
    fs::create_directories(folder_);
    ASSERT_TRUE(CreateHardLinkW(logFile, (std::wstring(kOutside) + L"victim.txt").c_str(), nullptr));
    EXPECT_FALSE(CLogger::Instance().Write(L"through a hard link", LOGTYPE_TRACE));
    EXPECT_EQ(ReadBytes(std::wstring(kOutside) + L"victim.txt"), "victim");
}

}  // namespace

namespace {

// The decision on a built descriptor: Wine keeps none, so the rule is shown
// on descriptors as Windows would read them back.
TEST(FolderTrustDecision, OnlyAdministratorsSystemAndTrustedInstallerMayChangeATrustedFolder) {
    const std::wstring ti = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    struct Case {
        const char* what;
        std::wstring sddl;
        bool trusted;
    };
    const Case cases[] = {
        {"the cache's own descriptor", L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true},
        {"owned by SYSTEM", L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        {"owned by TrustedInstaller", L"O:" + ti + L"D:P(A;OICI;FA;;;" + ti + L")(A;OICI;0x1200a9;;;BU)", true},
        {"owned by a user", L"O:BUD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},
        {"owned by Administrators, Users full control", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)", false},
        {"Users may add files", L"O:BAD:P(A;;FA;;;BA)(A;;0x1200ab;;;BU)", false},
        {"Users may add folders", L"O:BAD:P(A;;FA;;;BA)(A;;0x1200ad;;;BU)", false},
        {"Users may delete in it", L"O:BAD:P(A;;FA;;;BA)(A;;0x1200e9;;;BU)", false},
        {"Users may change its rights", L"O:BAD:P(A;;FA;;;BA)(A;;WD;;;BU)", false},
        {"Users may take it over", L"O:BAD:P(A;;FA;;;BA)(A;;WO;;;BU)", false},
        {"Users may delete it", L"O:BAD:P(A;;FA;;;BA)(A;;SD;;;BU)", false},
        {"Everyone generic write", L"O:BAD:P(A;;FA;;;BA)(A;;GW;;;WD)", false},
        {"Authenticated Users generic all", L"O:BAD:P(A;;FA;;;BA)(A;;GA;;;AU)", false},
        {"a user's change, inherited from the parent", L"O:BAD:AI(A;;FA;;;BA)(A;ID;0x1301bf;;;BU)", false},
        {"a user's write passed on to files made in it", L"O:BAD:P(A;;FA;;;BA)(A;OIIO;FA;;;BU)", false},
        {"a user's write passed on to folders made in it", L"O:BAD:P(A;;FA;;;BA)(A;CIIO;GW;;;BU)", false},
        {"an entry that applies to nothing", L"O:BAD:P(A;;FA;;;BA)(A;IO;FA;;;BU)", true},
        {"the creator's rights on what administrators make", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)", true},
        {"Users may only read and list", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true},
        {"a denying entry grants nothing", L"O:BAD:P(D;;FA;;;BU)(A;OICI;FA;;;BA)", true},
        {"an empty access list", L"O:BAD:P", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qx::UniqueLocal descriptor = qx::DescriptorFromSddl(c.sddl);
        ASSERT_TRUE(descriptor) << "the descriptor could not be built";
        std::wstring why;
        EXPECT_EQ(qx::OnlyAdministratorsCanChange(descriptor.get(), &why), c.trusted)
            << std::string(why.begin(), why.end());
        EXPECT_EQ(why.empty(), c.trusted) << "a refusal says why";
    }
    EXPECT_FALSE(qx::OnlyAdministratorsCanChange(static_cast<PSECURITY_DESCRIPTOR>(nullptr)));
    {
        SCOPED_TRACE("no access list at all: everyone may do anything");
        SECURITY_DESCRIPTOR open = {};
        BYTE admins[SECURITY_MAX_SID_SIZE] = {};
        DWORD size = sizeof admins;
        ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
        ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE(SetSecurityDescriptorOwner(&open, admins, FALSE));
        ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
        EXPECT_FALSE(qx::OnlyAdministratorsCanChange(&open));
    }
    // The cache levels the launcher makes pass its own rule.
    EXPECT_TRUE(qx::OnlyAdministratorsCanChange(qx::BuildCacheFolderDescriptor(true).get()));
}

}  // namespace
