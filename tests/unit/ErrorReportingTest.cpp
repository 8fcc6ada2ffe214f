#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/Ownership.h"
#include "modules/Utilities.h"
#include "tests/support/Files.h"
#include "tests/support/Log.h"
#include "tests/support/Paths.h"
#include "tests/support/TemporaryLog.h"
#include "tests/support/Text.h"

namespace {

using qxtest::Crlf;
using qxtest::Narrow;
using qxtest::ReadBytes;
using qxtest::SystemText;

// A copy of the shipped resource module whose English string 15016 is
// text, at path; null when it cannot be made.
HMODULE ResourceModuleWithCatalogText(const std::wstring& path, const std::wstring& text) {
    wchar_t shipped[MAX_PATH] = {};
    if (!SearchPathW(nullptr, L"QXVSetupRES64.dll", nullptr, MAX_PATH, shipped, nullptr) ||
        !qxtest::CopyModuleWithString(shipped, path, 15016, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text))
        return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
}

class ErrorReportingTest : public ::testing::Test {
protected:
    void SetUp() override {
        resModule_ = LoadLibraryW(L"QXVSetupRES64.dll");
        SetReportingContext(resModule_, false);
        module_ = qxtest::ProgramFolder() + L"QXPRP4005P64.dll";
        record_ = qxtest::ProgramFolder() + L"report-record.txt";
        DeleteFileW(module_.c_str());
        DeleteFileW(record_.c_str());
    }
    void TearDown() override {
        DeleteFileW(module_.c_str());
        DeleteFileW(record_.c_str());
    }
    // Places one of the reporter doubles beside the test program.
    void UseReporter(const wchar_t* variant) {
        std::wstring build = qxtest::ProgramFolder();
        ASSERT_TRUE(CopyFileW((build + L"doubles\\" + variant + L"\\QXPRP4005P64.dll").c_str(), module_.c_str(),
                              FALSE));
    }
    std::string Log() const { return log_.Bytes(); }
    qxtest::TemporaryLog log_{L"error-unit"};
    std::wstring module_, record_;
    HMODULE resModule_ = nullptr;
};

TEST_F(ErrorReportingTest, SystemErrorRecordHasThreeLinesAndSignedCode) {
    LogSystemError(2);
    LogSystemError(0x800F1000);
    LogSystemError(0x20001234);   // a code the system has no text for
    const std::string log = Log();
    const std::string head = "LOG TYPE: ERROR\r\n";
    EXPECT_NE(log.find(Crlf("===>>> ERROR :\n Code: 2\nMsg: " + Narrow(SystemText(2)) + "\n")), std::string::npos);
    EXPECT_FALSE(SystemText(2).empty());
    EXPECT_NE(log.find("\r\n Code: -2146496512\r\nMsg: "), std::string::npos);
    EXPECT_NE(log.find(Crlf("===>>> ERROR :\n Code: 536875572\nMsg: Unkown Error\n")), std::string::npos);
    size_t records = 0;
    for (size_t p = 0; (p = log.find(head, p)) != std::string::npos; p += head.size()) ++records;
    EXPECT_EQ(records, 3u);
}

TEST_F(ErrorReportingTest, ReportMessageComesFromTheCatalogOrTheSystem) {
    std::wstring catalog;
    Utilities::Instance()->LoadStringMV(catalog, resModule_, 15016);
    ASSERT_FALSE(catalog.empty());
    EXPECT_EQ(ReportMessageFor(kErrorFromCatalog, resModule_), catalog);
    EXPECT_TRUE(ReportMessageFor(kErrorFromCatalog, nullptr).empty()) << "no resource module, no text";
    const std::wstring fileNotFound = ReportMessageFor(2, resModule_);
    EXPECT_FALSE(fileNotFound.empty());
    EXPECT_TRUE(ReportMessageFor(0x20001234, resModule_).empty());
}

TEST_F(ErrorReportingTest, ACatalogTextLongerThanTheMessageIsCutTo511Characters) {
    // 600 characters, each telling its place, so the cut shows where it fell.
    std::wstring text;
    for (int i = 0; i < 600; ++i) text.push_back(static_cast<wchar_t>(L'a' + i % 26));
    const std::wstring path = qxtest::ProgramFolder() + L"qx-long-catalog.dll";
    qx::UniqueModule module(ResourceModuleWithCatalogText(path, text));
    ASSERT_TRUE(module) << "could not make the resource module";
    std::wstring stored;
    Utilities::Instance()->LoadStringMV(stored, module.get(), 15016);
    ASSERT_EQ(stored, text) << "the module holds the whole text";

    EXPECT_EQ(ReportMessageFor(kErrorFromCatalog, module.get()), text.substr(0, 511));
    // And the reporting module is handed exactly that.
    UseReporter(L"reporter");
    SetReportingContext(module.get(), false);
    ReportError(InstallErrorException(kErrorFromCatalog));
    SetReportingContext(resModule_, false);
    EXPECT_EQ(ReadBytes(record_), "message=" + std::string(text.begin(), text.begin() + 511) + "|args=0,0\n");
    module.reset();
    DeleteFileW(path.c_str());
}

TEST_F(ErrorReportingTest, ReportGoesToTheModuleBesideTheProgram) {
    UseReporter(L"reporter");
    ReportError(InstallErrorException(kErrorFromCatalog));
    std::wstring catalog;
    Utilities::Instance()->LoadStringMV(catalog, resModule_, 15016);
    const std::string record = ReadBytes(record_);
    EXPECT_NE(record.find("message="), std::string::npos);
    EXPECT_NE(record.find("|args=0,0"), std::string::npos);
    const std::string log = Log();
    std::string narrowCatalog(catalog.begin(), catalog.end());
    EXPECT_NE(log.find("ReportError: " + narrowCatalog), std::string::npos);
    EXPECT_EQ(log.find("Could not load"), std::string::npos);
    // The module is loaded for one report only.
    EXPECT_EQ(GetModuleHandleW(module_.c_str()), nullptr);
}

TEST_F(ErrorReportingTest, ModuleMissingOrUnusableIsLoggedNeverCalledThrough) {
    ReportError(InstallErrorException(2));
    EXPECT_NE(Log().find("LOG TYPE: ERROR\r\nTIME: "), std::string::npos);
    EXPECT_NE(Log().find("Could not load error reproting module"), std::string::npos);

    for (const wchar_t* variant : {L"reporter-noexport", L"reporter-null"}) {
        log_.Clear();
        UseReporter(variant);
        ReportError(InstallErrorException(2));   // must not crash
        const std::string log = Log();
        EXPECT_NE(log.find("GetErrorInterface"), std::string::npos) << "an ERROR record names the problem";
        // The double without the export has another one that records when
        // called: taking any export but GetErrorInterface by its name (the
        // first by number, say) would leave a record.
        EXPECT_EQ(ReadBytes(record_), "");
        EXPECT_EQ(GetModuleHandleW(module_.c_str()), nullptr);
        DeleteFileW(module_.c_str());
    }
}

TEST_F(ErrorReportingTest, CodeWithoutTextReportsAnEmptyMessage) {
    UseReporter(L"reporter");
    ReportError(InstallErrorException(0x20001234));
    EXPECT_EQ(ReadBytes(record_), "message=|args=0,0\n");
    EXPECT_NE(Log().find("\r\nReportError: \r\n"), std::string::npos);
}

}  // namespace
