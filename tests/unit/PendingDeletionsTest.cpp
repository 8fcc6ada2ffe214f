#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "cache/PendingDeletions.h"
#include "diag/Logger.h"
#include "tests/support/Registry.h"
#include "tests/support/TemporaryLog.h"
#include "tests/support/Text.h"

namespace {

const std::wstring kCache = L"C:\\ProgramData\\Selkirk-Vane\\QX Prism P4000 Series\\";
const std::wstring kCacheUpper = L"C:\\PROGRAMDATA\\SELKIRK-VANE\\QX PRISM P4000 SERIES\\";
const std::wstring kSibling = L"C:\\ProgramData\\Selkirk-Vane\\QX Prism P4000 Series2";
const std::wstring kOther = L"\\??\\C:\\Program Files\\Other\\old.dll";

// The system's name of a path.
std::wstring Nt(const std::wstring& path) { return L"\\??\\" + path; }

// Strings each with its NUL, and the list's closing NUL when ended.
std::wstring List(std::initializer_list<std::wstring> strings, bool ended = true) {
    std::wstring text;
    for (const std::wstring& s : strings) text += s + L'\0';
    if (ended) text += L'\0';
    return text;
}

struct Case {
    const char* what;
    std::wstring operations;
    std::wstring folder;
    std::wstring kept;
    std::vector<std::wstring> removed;
    size_t length = std::wstring::npos;   // read only this much of operations
};

TEST(PendingDeletions, OnlyDeletionsOfTheFolderAndWhatIsInsideAreTakenOut) {
    const std::wstring exe = Nt(kCache + L"QXVSetup64.exe");
    const std::vector<Case> cases = {
        {"other files' deletions stay, in order", List({kOther, L"", exe, L"", Nt(L"C:\\x.tmp"), L""}), kCache,
         List({kOther, L"", Nt(L"C:\\x.tmp"), L""}), {exe}},
        {"the folder itself, with and without its backslash, and a subfolder's file: nothing left",
         List({Nt(kCache + L"sub.dll\\in.dll"), L"", Nt(kCache.substr(0, kCache.size() - 1)), L"", Nt(kCache), L""}),
         kCache, L"", {Nt(kCache + L"sub.dll\\in.dll"), Nt(kCache.substr(0, kCache.size() - 1)), Nt(kCache)}},
        {"renames stay: out of the cache, into it, replacing",
         List({exe, Nt(L"C:\\elsewhere\\QXVSetup64.exe"), Nt(L"C:\\x.tmp"), exe, exe, L"!" + Nt(L"C:\\y.exe")}), kCache,
         List({exe, Nt(L"C:\\elsewhere\\QXVSetup64.exe"), Nt(L"C:\\x.tmp"), exe, exe, L"!" + Nt(L"C:\\y.exe")}), {}},
        {"case differences", List({Nt(kCacheUpper + L"QXVSETUP64.EXE"), L"", kOther, L""}), kCache, List({kOther, L""}),
         {Nt(kCacheUpper + L"QXVSETUP64.EXE")}},
        {"the \\\\?\\ and the plain form", List({L"\\\\?\\" + kCache + L"a.dll", L"", kCache + L"b.dll", L""}), kCache,
         L"", {L"\\\\?\\" + kCache + L"a.dll", kCache + L"b.dll"}},
        {"a folder that only shares the start of the name, and the level above, stay",
         List({Nt(kSibling + L"\\x.dll"), L"", Nt(kSibling), L"", Nt(L"C:\\ProgramData\\Selkirk-Vane"), L""}), kCache,
         List({Nt(kSibling + L"\\x.dll"), L"", Nt(kSibling), L"", Nt(L"C:\\ProgramData\\Selkirk-Vane"), L""}), {}},
        {"a share's folder in the system's UNC form",
         List({L"\\??\\UNC\\srv\\share\\Cache\\a.dll", L"", L"\\??\\UNC\\srv\\share\\Cache2\\a.dll", L""}),
         L"\\\\srv\\share\\Cache\\", List({L"\\??\\UNC\\srv\\share\\Cache2\\a.dll", L""}),
         {L"\\??\\UNC\\srv\\share\\Cache\\a.dll"}},
        {"a drive's root takes nothing out", List({Nt(L"C:\\x.dll"), L""}), L"C:\\", List({Nt(L"C:\\x.dll"), L""}), {}},
        {"a last source without a destination stays as it stands",
         List({kOther, L"", exe, L""}, false) + Nt(kCache + L"b.dll") + L'\0', kCache,
         List({kOther, L""}, false) + Nt(kCache + L"b.dll") + L'\0', {exe}},
        {"cut off within a destination: the rest stays as it stands",
         List({exe, L""}, false) + kOther + L'\0' + L"C:\\dest", kCache, kOther + L'\0' + L"C:\\dest", {exe}},
        {"empty, and the list's end alone", L"", kCache, L"", {}},
        {"the list's end alone", std::wstring(1, L'\0'), kCache, L"", {}},
        // What lies beyond the given length would make it a deletion.
        {"read no further than its length: a source alone", List({exe, L""}), kCache, exe, {}, exe.size()},
        {"read no further than its length: a source and its NUL", List({exe, L""}), kCache, exe + L'\0', {},
         exe.size() + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::wstring> removed;
        const std::wstring_view operations(c.operations.data(), std::min(c.length, c.operations.size()));
        const std::wstring kept = WithoutDeletionsUnder(operations, c.folder, &removed);
        EXPECT_EQ(kept, c.kept);
        EXPECT_EQ(removed, c.removed);
    }
}

// The value itself: rewritten without the folder's deletions, gone when
// nothing else was in it, and left alone when it is not a multi-string.
TEST(PendingDeletions, TheValueIsRewrittenOrRemovedAndEachTakenOutIsLogged) {
    const qxtest::TemporaryLog log(L"unit-pending");
    const auto plant = [](DWORD type, const std::wstring& text) {
        return qxtest::SetValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue, type, text.data(),
                                static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    };
    const std::wstring ours = Nt(kCache + L"QXVSetup64.exe");
    ASSERT_TRUE(plant(REG_MULTI_SZ, List({ours, L"", kOther, L""})));
    CancelDeletionsUnder(kCache.c_str());
    EXPECT_EQ(qxtest::PendingRenames(), (std::vector<qxtest::PendingRename>{{kOther, L""}}));
    EXPECT_EQ(qxtest::ReadValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue).type,
              static_cast<DWORD>(REG_MULTI_SZ));

    ASSERT_TRUE(plant(REG_MULTI_SZ, List({ours, L"", Nt(kCache.substr(0, kCache.size() - 1)), L""})));
    CancelDeletionsUnder(kCache.c_str());
    EXPECT_FALSE(qxtest::ValueExists(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue))
        << "a value with nothing left goes";

    const std::wstring binary = List({ours, L""});
    ASSERT_TRUE(plant(REG_BINARY, binary));
    CancelDeletionsUnder(kCache.c_str());
    const qxtest::RegistryValue left = qxtest::ReadValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    EXPECT_EQ(left.data.size(), binary.size() * sizeof(wchar_t)) << "not the system's form: untouched";
    qxtest::DeleteValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);

    CLogger::Instance().Reset();
    const auto traces = log.Texts("TRACE");
    EXPECT_EQ(traces, (std::vector<std::string>{"Pending deletion taken out: " + qxtest::Narrow(ours),
                                                "Pending deletion taken out: " + qxtest::Narrow(ours),
                                                "Pending deletion taken out: " +
                                                    qxtest::Narrow(Nt(kCache.substr(0, kCache.size() - 1)))}));
    EXPECT_TRUE(log.Texts("ERROR").empty());
}

}  // namespace
