#include <gtest/gtest.h>

#include <string>

#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
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
    EXPECT_LE(ReportMessageFor(2, nullptr).size(), 511u);
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
