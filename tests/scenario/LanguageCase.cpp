// The texts a person reads, in the language of the person's session: run
// only by tests/Languages.cmake, which starts a Wine session in one
// language of its table and these cases in it (QX_TEXT_LANGUAGE set, with
// the interface language the session must have in QX_UI_LANGUAGE);
// anywhere else they are skipped, and they are not listed among the
// scenario tests. Each box must show the text exactly as the resource
// module holds it in that language; the log stays English.
#include <shlobj.h>

#include <cstdlib>

#include "diag/ErrorReporting.h"
#include "framework/ResourceText.h"
#include "tests/scenario/ScenarioTest.h"

namespace qxtest {
namespace {

LANGID LanguageFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? static_cast<LANGID>(std::strtoul(value, nullptr, 16)) : 0;
}

// A message definition without inserts as the launcher formats it for its
// box: lines wrapped at 60 characters.
std::wstring WrappedAtSixty(const std::wstring& definition) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER | 60,
                   definition.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const qx::UniqueLocal owned(text);
    return text ? text : L"";
}

class LanguageTest : public ScenarioTest {
protected:
    void SetUp() override {
        if (!std::getenv("QX_TEXT_LANGUAGE")) GTEST_SKIP() << "only in the sessions tests/Languages.cmake starts";
        ScenarioTest::SetUp();
        ASSERT_EQ(GetUserDefaultUILanguage(), LanguageFromEnvironment("QX_UI_LANGUAGE"))
            << "the session does not run in the language of its row";
        language_ = LanguageFromEnvironment("QX_TEXT_LANGUAGE");
        texts_.reset(LoadLibraryExW((ProductDir() + kResourceModuleFile).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(texts_);
    }

    // String id as the shipped resource module holds it in the language
    // expected, and in English. A translated string must differ from the
    // English one, or the test could not tell them apart; only the product's
    // name stands as it is in every language.
    std::wstring Expected(unsigned id, bool sameInEveryLanguage = false) const {
        const std::wstring text = qx::ResourceString(texts_.get(), id, language_);
        EXPECT_FALSE(text.empty()) << "string " << id << " in language " << std::hex << language_;
        if (language_ != qx::kEnglishLanguage && !sameInEveryLanguage) {
            EXPECT_NE(text, English(id)) << "string " << id << " is not translated";
        }
        return text;
    }
    std::wstring English(unsigned id) const { return qx::ResourceString(texts_.get(), id, qx::kEnglishLanguage); }

    // Runs the launcher in folder quietly: no window, and its log's ERROR
    // records as one text, each in ASCII. (A character beyond Latin-1 is
    // written as '?', which only the comparison with the English text
    // catches.)
    std::wstring QuietRunErrorRecords(const std::wstring& folder, bool onArm64 = false) {
        ClearLogs();
        bool sawWindow = true;
        const std::wstring launcher = folder + kLauncherFile64;
        StartOptions options = OnArm64(launcher, L"CALLER=SETUP QUIET=YES");
        if (!onArm64) options.environment.clear();
        Process quiet = Process::Start(launcher, options);
        EXPECT_TRUE(WaitWatchingWindows(quiet, kStartTimeoutMs, sawWindow)) << "the quiet run did not end";
        EXPECT_FALSE(sawWindow);
        std::wstring joined;
        for (const std::string& record : LogTexts("ERROR")) {
            for (unsigned char c : record) {
                if (c < 0x80) continue;
                ADD_FAILURE() << "not English: " << record;
                break;
            }
            joined += Widen(record) + L"\n";
        }
        return joined;
    }

    LANGID language_ = 0;
    qx::UniqueModule texts_;
};

TEST_F(LanguageTest, PendingRebootBoxIsInTheSessionsLanguageAndAQuietRunLogsItInEnglish) {
    const std::wstring folder = MakeLauncherFolder(folder_);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kPendingRebootKey, L"Marker", 1));
    const std::wstring shown = WrappedAtSixty(Expected(kIdsPendingReboot));

    Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP");
    HWND box = WaitForBoxOf(p, kLauncherCaption);
    ASSERT_NE(box, nullptr) << "no message box; the launcher ended with " << p.ExitCode();
    EXPECT_EQ(ControlText(box, 0xFFFF), shown);
    if (const char* screenshot = std::getenv("QX_SCREENSHOT")) {
        EXPECT_TRUE(SaveScreenshot(box, Widen(screenshot))) << "no screenshot of the box";
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));

    const std::wstring logged = QuietRunErrorRecords(folder);
    EXPECT_EQ(Words(logged), Words(WrappedAtSixty(English(kIdsPendingReboot))));
}

TEST_F(LanguageTest, NotForThisProcessorBoxesAreInTheSessionsLanguageAndAQuietRunLogsItInEnglish) {
    // A development build told the machine, with the shipped modules.
    const std::wstring folder = MakeDevelopmentFolder(folder_);
    const std::wstring shown = qx::FormatInserts(Expected(kIdsNotForThisProcessor), {});
    const struct {
        const wchar_t* program;
        const wchar_t* args;
        std::wstring caption;
    } runs[] = {{kPadFile, L"", Expected(kIdsPadCaption)}, {kLauncherFile64, L"CALLER=SETUP", kLauncherCaption}};
    for (const auto& run : runs) {
        SCOPED_TRACE(Narrow(run.program));
        Process p = Process::Start(folder + run.program, OnArm64(folder + run.program, run.args));
        HWND box = WaitForBoxOf(p, run.caption);
        ASSERT_NE(box, nullptr) << "no box; ended with " << p.ExitCode();
        EXPECT_EQ(ControlText(box, 0xFFFF), shown);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(p.Wait(kStartTimeoutMs));
        EXPECT_EQ(p.ExitCode(), 1633u);
    }
    const std::wstring logged = QuietRunErrorRecords(folder, true);
    EXPECT_EQ(Words(logged), Words(qx::FormatInserts(English(kIdsNotForThisProcessor), {})));
}

TEST_F(LanguageTest, ErrorModuleBoxIsInTheSessionsLanguageAndAQuietRunLogsItInEnglish) {
    const std::wstring folder =
        MakeLauncherFolder(folder_, kWithResourceModule | kWithScriptedActions | kWithPackage | kWithRecordingPad);
    ASSERT_TRUE(CopyInto(ProductDir() + kErrorModuleFile, folder)) << "the shipped error-reporting module";
    WriteActionsScript(folder, "result=" + std::to_string(kErrorFromCatalog) + "\n");

    Process p = Process::Start(folder + kLauncherFile64, L"CALLER=SETUP");
    HWND box = WaitForBoxOf(p, Expected(kIdsErrorReportCaption, true));
    ASSERT_NE(box, nullptr) << "no box captioned as the module's caption in this language";
    EXPECT_EQ(ControlText(box, 0xFFFF), Expected(kIdsErrorCatalog));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));
    EXPECT_EQ(p.ExitCode(), static_cast<DWORD>(kErrorFromCatalog));

    const std::wstring logged = QuietRunErrorRecords(folder);
    EXPECT_NE(logged.find(English(kIdsErrorCatalog)), std::wstring::npos) << Narrow(logged);
    EXPECT_TRUE(Contains(LogTexts("TRACE"), "ReportError: " + Narrow(English(kIdsErrorCatalog))));
}

TEST_F(LanguageTest, PadBoxIsInTheSessionsLanguageAndAStringItsLanguageLacksIsEnglish) {
    // The Pad with its resource module and no launcher to start; then with
    // a resource module whose string 15018 the session's language lacks
    // (the rest of its block still there).
    const std::wstring folder = folder_ + L"pad\\";
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    ASSERT_TRUE(CopyPadInto(folder));
    const std::wstring launcher = folder + kLauncherFile64;
    const std::wstring reason = SystemText(ERROR_FILE_NOT_FOUND);
    const std::wstring texts = folder + kResourceModuleFile;
    const struct {
        const char* name;
        bool lacksString;
        std::wstring shown;
    } cases[] = {
        {"the shipped module", false, qx::FormatInserts(Expected(kIdsPadNotStarted), {launcher.c_str(), reason.c_str()})},
        {"the string missing in this language", true,
         qx::FormatInserts(English(kIdsPadNotStarted), {launcher.c_str(), reason.c_str()})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.lacksString) {
            ASSERT_TRUE(CopyModuleWithString(ProductDir() + kResourceModuleFile, texts, kIdsPadNotStarted, language_, L""));
        } else {
            ASSERT_TRUE(CopyInto(ProductDir() + kResourceModuleFile, folder));
        }
        Process pad = Process::Start(folder + kPadFile, StartOptions());
        HWND box = WaitForBoxOf(pad, Expected(kIdsPadCaption));
        ASSERT_NE(box, nullptr) << "no box captioned as the Pad's caption in this language; ended with "
                                << pad.ExitCode();
        EXPECT_EQ(ControlText(box, 0xFFFF), c.shown);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(pad.Wait(kStartTimeoutMs));
        EXPECT_EQ(pad.ExitCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
}

}  // namespace
}  // namespace qxtest
