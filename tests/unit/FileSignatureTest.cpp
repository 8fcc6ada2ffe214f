// The check against the program's signature, in process: the signed
// launcher of the product folder is the reference, the build's variants are
// the files that are not the product's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <filesystem>

#include "framework/DllSearch.h"
#include "framework/FileSignature.h"
#include "framework/ReleasePins.h"
#include "tests/support/Files.h"
#include "tests/support/Links.h"
#include "tests/support/Paths.h"
#include "tests/support/Text.h"

namespace {

using qxtest::BuildDir;
using qxtest::Narrow;
using qxtest::ProductDir;

qx::ReferenceSignature ReferenceOf(const std::wstring& program) {
    qx::UniqueHandle file(CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return qx::ReferenceFrom(qx::VerifySignature(file.get(), program.c_str()));
}

std::wstring Variant(const wchar_t* variant, const wchar_t* file) {
    return BuildDir() + L"tests\\trust\\" + variant + L"\\" + file;
}

TEST(FileSignature, EachFileIsJudgedAgainstTheReferencesSigner) {
    const qx::ReferenceSignature signedProgram = ReferenceOf(ProductDir() + L"QXVSetup64.exe");
    ASSERT_EQ(signedProgram.kind, qx::ReferenceSignature::Kind::kSigned) << "the shipped launcher is signed";
    const qx::ReferenceSignature unsignedProgram = ReferenceOf(Variant(L"unsigned", L"QXVSetup64.exe"));
    ASSERT_EQ(unsignedProgram.kind, qx::ReferenceSignature::Kind::kUnsigned);

    struct Case {
        std::wstring path;
        HRESULT bySigned;
    };
    const Case cases[] = {
        {ProductDir() + L"QXVInstallActions64.dll", S_OK},
        {ProductDir() + L"QXPRP4005.msi", S_OK},
        {ProductDir() + L"Setup.exe", S_OK},
        {Variant(L"unsigned", L"QXVInstallActions64.dll"), qx::kSignatureMissing},
        {Variant(L"unsigned", L"QXPRP4005.msi"), qx::kSignatureMissing},
        {Variant(L"other", L"CustomActionData64.dll"), qx::kSignerNotOurs},
        {Variant(L"other", L"QXPRP4005.msi"), qx::kSignerNotOurs},
        {Variant(L"changed", L"QXVInstallActions64.dll"), qx::kSignatureBadDigest},
        {Variant(L"changed", L"Setup.exe"), qx::kSignatureBadDigest},
        // A certificate that expired: told from its dates, whatever the
        // system's own answer (Wine's is 0), when no timestamp from within
        // its validity vouches for the signature.
        {Variant(L"expired", L"CustomActionData64.dll"), qx::kSignatureExpired},
        {Variant(L"expired-late", L"Setup.exe"), qx::kSignatureExpired},
        {BuildDir() + L"tests\\fixtures\\Garbage.msi", qx::kSignatureMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        const qx::CheckedFile bySigned = qx::CheckedFile::Open(c.path.c_str(), signedProgram);
        ASSERT_FALSE(bySigned.Absent());
        // A file that is no Authenticode subject at all is refused too,
        // with whatever the system calls it.
        if (c.path.find(L"Garbage") != std::wstring::npos)
            EXPECT_NE(bySigned.Refusal(), S_OK);
        else
            EXPECT_EQ(bySigned.Refusal(), c.bySigned);
        // Only a check that passed hands out what to use.
        EXPECT_EQ(bySigned.UsablePath() != nullptr, bySigned.Passed());
        EXPECT_EQ(bySigned.UsableHandle() != nullptr, bySigned.Passed());
        const qx::CheckedFile byUnsigned = qx::CheckedFile::Open(c.path.c_str(), unsignedProgram);
        EXPECT_TRUE(byUnsigned.Passed()) << "an unsigned program checks nothing";
    }
    const qx::CheckedFile missing = qx::CheckedFile::Open((ProductDir() + L"absent.dll").c_str(), signedProgram);
    EXPECT_TRUE(missing.Absent());
    EXPECT_FALSE(missing.Passed());
    EXPECT_EQ(missing.Refusal(), S_OK) << "a file that is not there is absent, not refused";
    EXPECT_EQ(missing.UsablePath(), nullptr);
}

TEST(FileSignature, OnlyAnUntrustedRootIsForgivenAndOnlyForTheProgramsOwnSigner) {
    qx::ReferenceSignature reference;
    reference.kind = qx::ReferenceSignature::Kind::kSigned;
    reference.signer = "ours";
    struct Case {
        HRESULT status;
        const char* signer;
        HRESULT judged;
    };
    const Case cases[] = {
        {S_OK, "ours", S_OK},
        {CERT_E_UNTRUSTEDROOT, "ours", S_OK},
        {CERT_E_CHAINING, "ours", S_OK},
        {CERT_E_UNTRUSTEDROOT, "theirs", qx::kSignerNotOurs},
        {S_OK, "theirs", qx::kSignerNotOurs},
        {S_OK, "", qx::kSignatureMissing},
        {CERT_E_EXPIRED, "ours", CERT_E_EXPIRED},
        {qx::kSignatureBadDigest, "ours", qx::kSignatureBadDigest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signer);
        EXPECT_EQ(qx::JudgeSignature(reference, {c.status, c.signer}), c.judged) << std::hex << c.status;
    }
    // A program whose own signature does not hold trusts nothing.
    const qx::ReferenceSignature broken = qx::ReferenceFrom({qx::kSignatureBadDigest, "ours"});
    EXPECT_EQ(broken.kind, qx::ReferenceSignature::Kind::kBroken);
    EXPECT_EQ(qx::JudgeSignature(broken, {S_OK, "ours"}), qx::kSignatureBadDigest);
    EXPECT_EQ(qx::ReferenceFrom({CERT_E_UNTRUSTEDROOT, "ours"}).kind, qx::ReferenceSignature::Kind::kSigned);
}

// The decision behind a signature whose certificate has expired, fed the
// answers Windows gives (its result, the certificate's validity, the
// counter-signature it checked and the time it verified the signature as
// of). Wine's WinVerifyTrust checks no validity and reads no RFC 3161
// timestamp, so only this table shows the timestamped rows.
TEST(FileSignature, AnExpiredCertificateHoldsOnlyThroughATimestampFromWithinItsValidity) {
    constexpr ULONGLONG kDay = 864000000000ull;
    constexpr ULONGLONG kFrom = 132223104000000000ull;   // 2020-01-01
    constexpr ULONGLONG kTo = kFrom + 366 * kDay;         // 2021-01-01
    constexpr ULONGLONG kNow = kTo + 1000 * kDay;         // long after
    struct Case {
        const char* what;
        HRESULT windows;         // what WinVerifyTrust answers
        ULONGLONG now;
        bool timestamped;        // a counter-signer whose own check held
        ULONGLONG verifiedAsOf;  // the timestamp's time, else the current time
        HRESULT judged;
    };
    const Case cases[] = {
        {"valid", S_OK, kFrom + 10 * kDay, false, kFrom + 10 * kDay, S_OK},
        {"valid, timestamped", S_OK, kFrom + 10 * kDay, true, kFrom + 9 * kDay, S_OK},
        {"expired, timestamp within the validity", S_OK, kNow, true, kFrom + 100 * kDay, S_OK},
        {"expired, no timestamp", CERT_E_EXPIRED, kNow, false, kNow, qx::kSignatureExpired},
        {"expired, timestamped after the expiry", CERT_E_EXPIRED, kNow, true, kTo + kDay, qx::kSignatureExpired},
        {"expired, timestamped on its last day", S_OK, kNow, true, kTo, S_OK},
        {"not yet valid", CERT_E_EXPIRED, kFrom - kDay, false, kFrom - kDay, qx::kSignatureExpired},
        // What Wine answers: 0, whatever the dates, and no counter-signer.
        {"expired, no timestamp (Wine's answer)", S_OK, kNow, false, kNow, qx::kSignatureExpired},
        {"timestamp that did not hold", S_OK, kNow, false, kFrom + 100 * kDay, qx::kSignatureExpired},
        // A root that is only not trusted here (the test certificate)
        // hides no expiry, and is forgiven later only for a valid one.
        {"untrusted root, expired, no timestamp", CERT_E_UNTRUSTEDROOT, kNow, false, kNow, qx::kSignatureExpired},
        {"untrusted root, expired, timestamp within", CERT_E_UNTRUSTEDROOT, kNow, true, kFrom + kDay,
         CERT_E_UNTRUSTEDROOT},
        {"untrusted root, valid", CERT_E_UNTRUSTEDROOT, kFrom + kDay, false, kFrom + kDay, CERT_E_UNTRUSTEDROOT},
        // A file changed after signing stays a changed file.
        {"changed and expired", qx::kSignatureBadDigest, kNow, false, kNow, qx::kSignatureBadDigest},
        {"unsigned", qx::kSignatureMissing, kNow, false, kNow, qx::kSignatureMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qx::SignatureTimes times;
        times.known = true;
        times.notBefore = kFrom;
        times.notAfter = kTo;
        times.timestamped = c.timestamped;
        times.verifiedAsOf = c.verifiedAsOf;
        EXPECT_EQ(qx::JudgeValidityPeriod(c.windows, times, c.now), c.judged) << std::hex << c.windows;
    }
    // Without the signer's certificate there are no dates to hold it to:
    // the system's answer stands (and no signer is no signature of ours).
    EXPECT_EQ(qx::JudgeValidityPeriod(S_OK, qx::SignatureTimes{}, kNow), S_OK);
    // An expired file is refused with the system's code, as a verdict on
    // the file, not as a file that could not be checked.
    qx::ReferenceSignature reference;
    reference.kind = qx::ReferenceSignature::Kind::kSigned;
    reference.signer = "ours";
    EXPECT_EQ(qx::JudgeSignature(reference, {qx::kSignatureExpired, "ours"}), qx::kSignatureExpired);
    EXPECT_EQ(static_cast<unsigned>(qx::kSignatureExpired), 0x800B0101u);
    EXPECT_FALSE(qx::CouldNotBeChecked(qx::kSignatureExpired));
}

TEST(FileSignature, AHeldFileCannotBeRenamedReplacedOrDeletedUntilReleased) {
    const std::wstring folder = qxtest::ProgramFolder() + L"held\\";
    qxtest::RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(qxtest::CopyInto(ProductDir() + L"CustomActionData64.dll", folder));
    const std::wstring path = folder + L"CustomActionData64.dll";
    const std::wstring moved = folder + L"moved.dll";
    qx::CheckedFile held = qx::CheckedFile::Open(path.c_str(), ReferenceOf(ProductDir() + L"QXVSetup64.exe"));
    ASSERT_TRUE(held.Passed());
    EXPECT_FALSE(MoveFileW(path.c_str(), moved.c_str())) << "renamed while held";
    EXPECT_FALSE(DeleteFileW(path.c_str())) << "deleted while held";
    EXPECT_FALSE(CopyFileW((ProductDir() + L"QXVInstallActions64.dll").c_str(), path.c_str(), FALSE))
        << "replaced while held";
    EXPECT_FALSE(qx::UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr)))
        << "opened for writing while held";
    qx::UniqueHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader) << "others may still read it (the loader, the installer, the cache copy)";
    reader.reset();
    held.Release();
    EXPECT_TRUE(MoveFileW(path.c_str(), moved.c_str()));
    qxtest::RemoveTree(folder);
}

// A file another program holds with delete access cannot be opened for the
// check: a checking program refuses it with that error and hands out
// nothing to use; one that checks nothing takes it by its path as before.
TEST(FileSignature, AFileTheCheckCannotOpenIsRefusedWithItsOpenError) {
    const std::wstring path = ProductDir() + L"CustomActionData64.dll";
    const qx::UniqueHandle other = qxtest::HoldForDeletion(path);
    ASSERT_TRUE(other);
    const qx::CheckedFile bySigned = qx::CheckedFile::Open(path.c_str(), ReferenceOf(ProductDir() + L"QXVSetup64.exe"));
    EXPECT_FALSE(bySigned.Absent());
    EXPECT_FALSE(bySigned.Passed());
    EXPECT_EQ(bySigned.Refusal(), static_cast<HRESULT>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(qx::CouldNotBeChecked(bySigned.Refusal()));
    EXPECT_EQ(bySigned.UsablePath(), nullptr);
    EXPECT_EQ(bySigned.UsableHandle(), nullptr);
    const qx::CheckedFile byUnsigned = qx::CheckedFile::Open(path.c_str(), qx::ReferenceSignature{});
    ASSERT_TRUE(byUnsigned.Passed()) << "a development build checks nothing";
    EXPECT_EQ(std::wstring(byUnsigned.UsablePath()), path);
    // The verdicts that are refusals of the file, not failures to read it.
    EXPECT_FALSE(qx::CouldNotBeChecked(qx::kNotThisRelease));
    EXPECT_FALSE(qx::CouldNotBeChecked(qx::kSignatureMissing));
    EXPECT_FALSE(qx::CouldNotBeChecked(qx::kSignerNotOurs));
    EXPECT_FALSE(qx::CouldNotBeChecked(S_OK));
    EXPECT_TRUE(qx::CouldNotBeChecked(HRESULT_FROM_WIN32(ERROR_READ_FAULT)));
    EXPECT_TRUE(qx::CouldNotBeChecked(static_cast<HRESULT>(qx::kPathNotHeld)));
}

// The path handed out is the one the held handle resolves to, not the one
// asked for through a link, and every folder on it stays where it is until
// the file is released.
TEST(FileSignature, TheUsablePathIsTheResolvedOneWithItsFoldersHeld) {
    const std::wstring root = L"C:\\qxtest-unit\\heldpath\\";
    qxtest::RemoveTreeNoFollow(root);
    const std::wstring real = root + L"real\\inner\\";
    std::filesystem::create_directories(real);
    ASSERT_TRUE(qxtest::CopyInto(ProductDir() + L"CustomActionData64.dll", real));
    ASSERT_TRUE(qxtest::MakeLink(root + L"link", root + L"real"));

    qx::CheckedFile held = qx::CheckedFile::Open((root + L"link\\inner\\CustomActionData64.dll").c_str(),
                                                 ReferenceOf(ProductDir() + L"QXVSetup64.exe"));
    ASSERT_TRUE(held.Passed()) << std::hex << held.Refusal();
    EXPECT_EQ(_wcsicmp(held.UsablePath(), (real + L"CustomActionData64.dll").c_str()), 0) << Narrow(held.UsablePath());
    EXPECT_NE(std::wstring(held.UsablePath()).find(L"\\real\\inner\\"), std::wstring::npos);
    for (const std::wstring& folder : {root + L"real\\inner", root + L"real"})
        EXPECT_FALSE(MoveFileW(folder.c_str(), (folder + L"-moved").c_str())) << Narrow(folder) << " renamed while held";
    held.Release();
    EXPECT_TRUE(MoveFileW((root + L"real\\inner").c_str(), (root + L"real\\moved").c_str())) << "let go";

    // Root forms the held path is built from.
    EXPECT_EQ(qx::RootLength(L"C:\\a\\b"), 3u);
    EXPECT_EQ(qx::RootLength(L"\\\\server\\share\\a"), 15u);
    EXPECT_EQ(qx::RootLength(L"\\\\server\\\\a"), 0u);
    EXPECT_EQ(qx::RootLength(L"relative\\a"), 0u);
    qxtest::RemoveTreeNoFollow(root);
}

TEST(FileSignature, ACheckAheadIsHandedOverOnceAndOnlyForItsPath) {
    const std::wstring module = ProductDir() + L"CustomActionData64.dll";
    const std::wstring other = ProductDir() + L"QXVInstallActions64.dll";
    qx::CheckAhead ahead;
    ahead.Run(module.c_str());
    const qx::CheckVerdict verdict = ahead.Verdict(module.c_str());
    EXPECT_FALSE(verdict.absent);
    EXPECT_EQ(verdict.refusal, S_OK);
    EXPECT_FALSE(DeleteFileW(module.c_str())) << "held from the check ahead on";
    qx::CheckedFile taken = ahead.Take(module.c_str());
    EXPECT_TRUE(taken.Passed());
    EXPECT_EQ(_wcsicmp(taken.AskedPath().c_str(), module.c_str()), 0);
    const qx::CheckedFile another = ahead.Take(other.c_str());
    EXPECT_EQ(_wcsicmp(another.AskedPath().c_str(), other.c_str()), 0) << "another path is checked afresh";
    // A check ahead that comes after the take holds nothing nobody takes.
    ahead.Run(other.c_str());
    taken.Release();
}

TEST(DllSearch, TheFallbackLoadsEachHelperFromTheSystemFolder) {
    qx::PreloadSystemHelpers();
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    size_t loaded = 0;
    for (size_t i = 0; i < qx::kSystemHelperDllCount; ++i) {
        const std::wstring candidate = std::wstring(system) + L"\\" + qx::kSystemHelperDlls[i];
        if (!qxtest::FileExists(candidate)) continue;   // a helper this system does not have
        SCOPED_TRACE(Narrow(qx::kSystemHelperDlls[i]));
        HMODULE module = GetModuleHandleW(qx::kSystemHelperDlls[i]);
        ASSERT_NE(module, nullptr) << "not loaded";
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(module, path, MAX_PATH);
        EXPECT_EQ(_wcsicmp(path, candidate.c_str()), 0) << Narrow(path);
        ++loaded;
    }
    EXPECT_GE(loaded, 8u);
}

}  // namespace

// The pins' text as the build writes it, read back for each kind of entry.
TEST(ReleasePins, EachNameFindsItsOwnHashAndNothingElse) {
    const std::string a(64, 'a'), b = "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef";
    const std::string pins = "QXPRP4005.msi " + a + "\nQXVInstallActions64.dll " + b + "\nbroken.dll 12\nbad.dll " +
                             std::string(63, 'f') + "g\n";
    struct Case {
        const wchar_t* name;
        bool found;
        BYTE first, last;
    };
    const Case cases[] = {
        {L"QXPRP4005.msi", true, 0xAA, 0xAA},
        {L"C:\\some folder\\qxprp4005.MSI", true, 0xAA, 0xAA},   // folders ignored, case too
        {L"QXVInstallActions64.dll", true, 0x01, 0xEF},
        {L"XQXPRP4005.msi", false, 0, 0},                        // a longer name is another file
        {L"PRP4005.msi", false, 0, 0},
        {L"broken.dll", false, 0, 0},                            // a hash cut short
        {L"bad.dll", false, 0, 0},                               // not hex
        {L"", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        const auto pin = qx::PinIn(pins.data(), pins.size(), c.name);
        ASSERT_EQ(pin.has_value(), c.found);
        if (pin) {
            EXPECT_EQ((*pin)[0], c.first);
            EXPECT_EQ((*pin)[31], c.last);
        }
    }
    // Cut anywhere, it reads nothing past its end.
    for (size_t length = 0; length < pins.size(); ++length)
        EXPECT_EQ(qx::PinIn(pins.data(), length, L"QXVInstallActions64.dll").has_value(),
                  length >= pins.find('\n', 14) + 1 + 24 + 64);
}

// SHA-256 through a handle, and the word given for a held file: asked with
// another handle of the same file it is given, of another file or after it
// was withdrawn it is not.
TEST(ReleasePins, HashThroughTheHandleAndTheWordForAHeldFile) {
    const std::wstring folder = BuildDir() + L"tests\\";
    const std::wstring path = folder + L"pins-abc.txt", other = folder + L"pins-other.txt";
    ASSERT_TRUE(qxtest::PutFile(path, "abc"));
    ASSERT_TRUE(qxtest::PutFile(other, "abc"));
    qx::CheckedFile held = qx::CheckedFile::Open(path.c_str(), qx::ReferenceSignature{});
    ASSERT_TRUE(held.Passed());
    qx::Sha256 hash = {};
    ASSERT_EQ(qx::HashOpenFile(held.UsableHandle(), hash), static_cast<DWORD>(ERROR_SUCCESS));
    // FIPS 180-2's example: SHA-256("abc").
    const BYTE abc[] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                        0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    EXPECT_TRUE(std::equal(hash.begin(), hash.end(), abc));
    qx::Sha256 again = {};
    ASSERT_EQ(qx::HashOpenFile(held.UsableHandle(), again), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(again, hash) << "read from its start each time";

    qx::VouchForHeldFile(held.UsableHandle(), hash);
    qx::UniqueHandle sameFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    qx::UniqueHandle otherFile(CreateFileW(other.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    qx::Sha256 vouched = {};
    EXPECT_TRUE(qx::VouchedHash(sameFile.get(), vouched));
    EXPECT_EQ(vouched, hash);
    EXPECT_FALSE(qx::VouchedHash(otherFile.get(), vouched)) << "the same content is not the same file";
    qx::WithdrawVouch(held.UsableHandle());
    EXPECT_FALSE(qx::VouchedHash(sameFile.get(), vouched));
    EXPECT_FALSE(qx::AskHostToVouch(sameFile.get(), vouched)) << "this test program exports no word";
    held.Release();
    sameFile.reset();
    otherFile.reset();
    DeleteFileW(path.c_str());
    DeleteFileW(other.c_str());
}
