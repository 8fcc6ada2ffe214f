#include <gtest/gtest.h>

#include <string>

#include "framework/Ownership.h"
#include "framework/ResourceText.h"
#include "res/ProductTexts.h"
#include "tests/support/Paths.h"
#include "tests/support/Text.h"

namespace {

// A translation is formatted with the inserts the code gives; one that
// asks for more, or reads arguments of its own, is never formatted.
TEST(ResourceText, InsertsAreFilledAndADefinitionAskingForMoreIsRefused) {
    const struct {
        const wchar_t* definition;
        std::wstring formatted;   // empty: refused
    } cases[] = {
        {L"%2 before %1", L"two before one"},
        {L"line%nnext%tand 100%%", L"line\r\nnext\tand 100%"},
        {L"%3 is not given", L""},
        {L"%12 is not given either", L""},
        {L"%1!*s! reads a width of its own", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qxtest::Narrow(c.definition));
        EXPECT_EQ(qx::FormatInserts(c.definition, {L"one", L"two"}), c.formatted);
    }
    EXPECT_EQ(qx::FormatInserts(L"<%1>", {L"100% %2"}), L"<100% %2>") << "an insert is not read as a definition";
}

TEST(ResourceText, MissingModuleOrStringGivesTheEnglishFallbackFormatted) {
    const qx::UniqueModule module(LoadLibraryExW((qxtest::ProductDir() + kResourceModuleFile).c_str(), nullptr,
                                                 LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    // The tests' session is English: the module's text is its English one.
    EXPECT_EQ(ProductText(module.get(), kIdsErrorNumber, {L"5"}), L"Error 5");
    EXPECT_EQ(qx::LocalizedString(module.get(), kIdsPadCaption),
              qx::ResourceString(module.get(), kIdsPadCaption, qx::kEnglishLanguage));
    EXPECT_TRUE(qx::LocalizedString(module.get(), 4242).empty());
    EXPECT_TRUE(qx::ResourceString(module.get(), 0x10000 + kIdsPadCaption, qx::kEnglishLanguage).empty())
        << "no id beyond the string table's range";
    EXPECT_EQ(ProductText(nullptr, kIdsPadNotStarted, {L"C:\\x\\QXVSetup64.exe", L"gone"}),
              L"The setup could not be started:\r\nC:\\x\\QXVSetup64.exe\r\n\r\ngone");
    EXPECT_EQ(qx::LocalizedText(module.get(), 4242, L"fallback %1", {L"used"}), L"fallback used");
    EXPECT_TRUE(ProductText(nullptr, kIdsErrorCatalog).empty()) << "15016 has no fallback of its own";
}

}  // namespace
