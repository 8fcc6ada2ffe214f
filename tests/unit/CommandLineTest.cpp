#include <gtest/gtest.h>

#include <string>

#include "framework/CommandLine.h"
#include "res/InstallerProperties.h"
#include "res/Switches.h"
#include "tests/support/Text.h"

namespace {

using qx::ArgumentTail;

TEST(ArgumentTail, ProgramNameEndsAtFirstBlankOrControlOutsideQuotes) {
    EXPECT_STREQ(ArgumentTail(L"C:\\a\\QXVSetup64.exe CALLER=SETUP"), L"CALLER=SETUP");
    EXPECT_STREQ(ArgumentTail(L"\"C:\\my dir\\QXVSetup64.exe\" CALLER=SETUP"), L"CALLER=SETUP");
    EXPECT_STREQ(ArgumentTail(L"prog\tX"), L"X");
    EXPECT_STREQ(ArgumentTail(L"prog\x01X"), L"X");
    // A quote inside the name switches quoting just the same.
    EXPECT_STREQ(ArgumentTail(L"C:\\a\"b c\"d.exe tail"), L"tail");
}

TEST(ArgumentTail, BlanksAndControlsAfterTheNameAreSkippedOnlyThere) {
    EXPECT_STREQ(ArgumentTail(L"prog  \t\r\n  A  B  "), L"A  B  ");
    EXPECT_STREQ(ArgumentTail(L"prog"), L"");
    EXPECT_STREQ(ArgumentTail(L"prog    "), L"");
    EXPECT_STREQ(ArgumentTail(L""), L"");
    EXPECT_STREQ(ArgumentTail(nullptr), L"");
}

TEST(ArgumentTail, UnbalancedQuoteMakesTheWholeLineTheName) {
    EXPECT_STREQ(ArgumentTail(L"\"C:\\dir\\QXVSetup64.exe CALLER=SETUP"), L"");
    EXPECT_STREQ(ArgumentTail(L"\"\" rest"), L"rest");
}

TEST(ArgumentTail, LongLinesArePointedIntoNotCopied) {
    std::wstring line = L"prog " + std::wstring(32000, L'x');
    const wchar_t* tail = ArgumentTail(line.c_str());
    EXPECT_EQ(tail, line.c_str() + 5);
    EXPECT_EQ(std::wstring(tail).size(), 32000u);
}

}  // namespace

namespace {

TEST(SplitArguments, FollowsTheRulesWindowsProgramsSplitBy) {
    const struct {
        const wchar_t* tail;
        std::vector<std::wstring> arguments;
    } cases[] = {
        {L"", {}},
        {L"  a\tb  ", {L"a", L"b"}},
        {L"/log \"C:\\log dir\\setup log.log\" /quiet", {L"/log", L"C:\\log dir\\setup log.log", L"/quiet"}},
        {L"LOG=\"C:\\a b\\x.log\"", {L"LOG=C:\\a b\\x.log"}},
        {L"a\\\\\"b c\" d", {L"a\\b c", L"d"}},          // 2n backslashes: n, and the quote counts
        {L"a\\\"b", {L"a\"b"}},                          // 2n+1: n and a literal quote
        {L"C:\\dir\\ x", {L"C:\\dir\\", L"x"}},          // backslashes not before a quote stay
        {L"\"a\"\"b\"", {L"a\"b"}},                      // "" inside quotes is one quote
        {L"\"unclosed arg", {L"unclosed arg"}},
    };
    for (const auto& c : cases) EXPECT_EQ(qx::SplitArguments(c.tail), c.arguments) << qxtest::Narrow(c.tail);
}

// The caller switches count inside a longer word, but never inside the
// value of a property argument.
TEST(ReadSwitches, ACallerSwitchCountsAnywhereButInAPropertysValue) {
    const struct {
        const wchar_t* tail;
        const wchar_t* sw;
        bool found;
    } cases[] = {
        {L"CALLER=SETUP", kSwitchCallerSetup, true},
        {L"QUIET=YES CALLER=SETUP /norestart", kSwitchCallerSetup, true},
        {L"xCALLER=SETUPx", kSwitchCallerSetup, true},
        {L"/qCALLER=COINSTALLER/q", kSwitchCallerCoInstaller, true},
        {L"FOOCALLER=SETUP", kSwitchCallerSetup, true},   // starts in the name: no value holds it
        {L"\"AFTERREBOOT=YES CALLER=SETUP\"", kSwitchAfterReboot, true},
        {L"COMMENTS=CALLER=SETUP", kSwitchCallerSetup, false},
        {L"ARPCOMMENTS=\"after RUNONCE=YES\"", kSwitchRunOnce, false},
        {L"INSTALLDIR=C:\\AFTERREBOOT=YES", kSwitchAfterReboot, false},
        {L"lower=AFTERREBOOT=YES", kSwitchAfterReboot, true},   // no property's name: the word counts
        // A path the caller or the launcher chose is a value too.
        {L"PACKAGE=\"D:\\AFTERREBOOT=YES\\QXPRP4005.msi\" CALLER=SETUP", kSwitchAfterReboot, false},
        {L"PACKAGE=\"D:\\AFTERREBOOT=YES\\QXPRP4005.msi\" CALLER=SETUP", kSwitchCallerSetup, true},
        {L"LOG=C:\\CALLER=SETUP.log", kSwitchCallerSetup, false},
        {L"caller=setup", kSwitchCallerSetup, false},
        {L"", kSwitchCallerSetup, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HasCallerSwitch(c.tail, c.sw), c.found) << qxtest::Narrow(c.tail) << " " << qxtest::Narrow(c.sw);
    EXPECT_FALSE(HasCallerSwitch(nullptr, kSwitchCallerSetup));
}

// The launcher hands the package it checked to the install-actions module
// first in the tail; the module takes it from there only.
TEST(ReadSwitches, TheHandedOnPackageIsTheFirstArgumentOnly) {
    const std::wstring blanks = L"C:\\Disc with blanks\\QXPRP4005.msi";
    const struct {
        std::wstring tail;
        std::wstring handed;
    } cases[] = {
        {HandOnPackage(blanks.c_str(), L"CALLER=SETUP extra"), blanks},
        {HandOnPackage(blanks.c_str(), L""), blanks},
        // A quote the caller left open cannot take it in.
        {HandOnPackage(blanks.c_str(), L"CALLER=SETUP \"open"), blanks},
        {L"CALLER=SETUP PACKAGE=D:\\x.msi", L""},   // the caller's, further on
        {L"package=D:\\x.msi", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HandedPackage(c.tail.c_str()), c.handed) << qxtest::Narrow(c.tail);
        // Never a property for the installer, never a switch.
        for (const PublicProperty& p : PublicProperties(c.tail.c_str())) EXPECT_NE(p.name, L"PACKAGE");
        EXPECT_FALSE(ReadSwitches(c.tail.c_str()).quiet);
    }
    EXPECT_EQ(HandedPackage(nullptr), L"");
    const Switches after = ReadSwitches(HandOnPackage(blanks.c_str(), L"CALLER=SETUP /quiet").c_str());
    EXPECT_TRUE(after.quiet);
    EXPECT_EQ(after.invalid, L"");
}

TEST(ReadSwitches, BothFormsOfEachSwitchAndWhatIsNotUnderstood) {
    const struct {
        const wchar_t* tail;
        bool quiet, noRestart, uninstall, help;
        const wchar_t* logFile;
        const wchar_t* invalid;
    } cases[] = {
        {L"CALLER=SETUP", false, false, false, false, L"", L""},
        {L"CALLER=SETUP QUIET=YES NORESTART=YES", true, true, false, false, L"", L""},
        {L"/quiet", true, false, false, false, L"", L""},
        {L"-QUIET", true, false, false, false, L"", L""},
        {L"/q", true, false, false, false, L"", L""},
        {L"/QN /NoRestart", true, true, false, false, L"", L""},
        {L"-norestart", false, true, false, false, L"", L""},
        {L"/uninstall", false, false, true, false, L"", L""},
        {L"UNINSTALL=YES", false, false, true, false, L"", L""},
        {L"/?", false, false, false, true, L"", L""},
        {L"-Help", false, false, false, true, L"", L""},
        {L"/log \"C:\\a b\\x.log\" /quiet", true, false, false, false, L"C:\\a b\\x.log", L""},
        {L"LOG=C:\\x.log", false, false, false, false, L"C:\\x.log", L""},
        // A longer word is no conventional switch: an unknown "/" argument is
        // not understood; the product's own KEY=YES forms count only as whole
        // arguments, so a property's value is never one; a "-" argument the
        // product does not know passes on (the module's).
        {L"/quietly", false, false, false, false, L"", L"/quietly"},
        {L"xQUIET=YESx", false, false, false, false, L"", L""},
        {L"/quiet COMMENTS=UNINSTALL=YES", true, false, false, false, L"", L""},
        {L"\"ARPCOMMENTS=QUIET=YES NORESTART=YES\"", false, false, false, false, L"", L""},
        {L"ARPCOMMENTS=\"QUIET=YES\" UNINSTALL=YES", false, false, true, false, L"", L""},
        {L"quiet=yes", false, false, false, false, L"", L""},
        {L"/qCALLER=COINSTALLER/q", false, false, false, false, L"", L""},
        {L"-something-for-the-module", false, false, false, false, L"", L""},
        {L"/log", false, false, false, false, L"", L"/log"},
        {L"/quiet /log", true, false, false, false, L"", L"/log"},
        {L"LOG=", false, false, false, false, L"", L"LOG="},
        {L"/bogus /also-bogus", false, false, false, false, L"", L"/bogus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qxtest::Narrow(c.tail));
        const Switches s = ReadSwitches(c.tail);
        EXPECT_EQ(s.quiet, c.quiet);
        EXPECT_EQ(s.noRestart, c.noRestart);
        EXPECT_EQ(s.uninstall, c.uninstall);
        EXPECT_EQ(s.help, c.help);
        EXPECT_EQ(s.logFile, c.logFile);
        EXPECT_EQ(s.invalid, c.invalid);
    }
}

}  // namespace

// Public properties: which arguments are, and both quotings of them.
TEST(InstallerProperties, OnlyPublicNamesThatAreNotTheProductsSwitches) {
    const auto found = PublicProperties(
        L"CALLER=SETUP \"INSTALLDIR=C:\\Custom Dir\" ADDLOCAL=ALL lower=x _P.1=y 9X=z QUIET=YES LOG=c:\\x.log "
        L"PASSIVE=YES /quiet NOEQUALS EMPTY= TRANSFORMS=site.mst");
    std::wstring names;
    for (const PublicProperty& p : found) names += p.name + L"|";
    EXPECT_EQ(names, L"INSTALLDIR|ADDLOCAL|_P.1|EMPTY|TRANSFORMS|");
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[0].value, L"C:\\Custom Dir");
    EXPECT_EQ(found[3].value, L"");
}

TEST(InstallerProperties, QuotedForTheInstallerAndForACommandLineAndMaskedForTheLog) {
    struct Case {
        std::wstring value;
        std::wstring forInstaller;   // after "NAME="
    };
    const Case cases[] = {
        {L"ALL", L"ALL"},
        {L"C:\\Custom Dir\\", L"\"C:\\Custom Dir\\\""},
        {L"say \"hi\"", L"\"say \"\"hi\"\"\""},
        {L"", L"\"\""},
        {L"a\\\"b", L"\"a\\\"\"b\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qxtest::Narrow(c.value));
        const std::vector<PublicProperty> one = {{L"NAME", c.value}};
        EXPECT_EQ(InstallerPropertyText(one), L"NAME=" + c.forInstaller);
        // Split back as Windows' programs split a command line, it is what was given.
        const auto split = qx::SplitArguments((L"CALLER=SETUP " + CommandLinePropertyText(one) + L" X=1").c_str());
        ASSERT_EQ(split.size(), 3u);
        EXPECT_EQ(split[1], L"NAME=" + c.value);
    }
    const std::vector<PublicProperty> secrets = {{L"SERVICEPASSWORD", L"s3cret"}, {L"LICENSEKEY", L"k"},
                                                 {L"KEYBOARD", L"de"}};
    EXPECT_EQ(InstallerPropertyText(secrets, true), L"SERVICEPASSWORD=***** LICENSEKEY=***** KEYBOARD=de");
}

TEST(InstallerProperties, TheLogShowsATailAsItStandsUnlessItHoldsASecret) {
    const wchar_t* plain = L"CALLER=SETUP  \"INSTALLDIR=C:\\a b\" /quiet";
    EXPECT_EQ(TailForLog(plain), plain) << "untouched, spacing and all";
    EXPECT_EQ(TailForLog(L"CALLER=SETUP \"SERVICEPASSWORD=s3 cret\" LICENSEKEY=k \"INSTALLDIR=C:\\a b\""),
              L"CALLER=SETUP SERVICEPASSWORD=***** LICENSEKEY=***** \"INSTALLDIR=C:\\a b\"");
    EXPECT_EQ(TailForLog(nullptr), L"");
}

TEST(ReadSwitches, PassiveInEitherForm) {
    for (const wchar_t* tail : {L"/passive", L"-PASSIVE", L"CALLER=SETUP PASSIVE=YES", L"/Passive /norestart"}) {
        const Switches s = ReadSwitches(tail);
        EXPECT_TRUE(s.passive) << qxtest::Narrow(tail);
        EXPECT_FALSE(s.quiet);
        EXPECT_EQ(s.invalid, L"");
    }
    EXPECT_FALSE(ReadSwitches(L"/passively").passive);
    EXPECT_EQ(ReadSwitches(L"/passively").invalid, L"/passively");
}
