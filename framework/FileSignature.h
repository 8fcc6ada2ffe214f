#pragma once
// Whether a file may be run, loaded or installed by this program: a program
// that carries an Authenticode signature uses only the files of its own
// release, pinned by their hash (framework/ReleasePins.h), and a file it
// does not pin only when it is signed by the same certificate with its
// digest intact. A program without a signature (a development build)
// checks nothing. Every file is opened once, checked
// through that handle and held, shared for reading only, until it has been
// used, so nothing can take its place between the check and the use.
#include <windows.h>

#include <string>

#include "framework/HeldPath.h"
#include "framework/Ownership.h"

namespace qx {

// The results a refused file gives, as the system names them.
constexpr HRESULT kSignatureMissing = static_cast<HRESULT>(0x800B0100);      // TRUST_E_NOSIGNATURE
constexpr HRESULT kSignatureBadDigest = static_cast<HRESULT>(0x80096010);    // TRUST_E_BAD_DIGEST
constexpr HRESULT kSignerNotOurs = static_cast<HRESULT>(0x800B0004);         // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr HRESULT kSignatureExpired = static_cast<HRESULT>(0x800B0101);      // CERT_E_EXPIRED
// A pinned file whose content is not its release's: ERROR_REVISION_MISMATCH,
// "Indicates two revision levels are incompatible."
constexpr HRESULT kNotThisRelease = static_cast<HRESULT>(ERROR_REVISION_MISMATCH);

// A refusal that is a system error rather than a verdict on the file: it
// could not be opened for the check (held by another program with delete
// access: 32), its path could not be held, or it could not be read.
inline bool CouldNotBeChecked(HRESULT refusal) {
    if (refusal == S_OK || refusal == kNotThisRelease) return false;
    const DWORD code = static_cast<DWORD>(refusal);
    return code < 0x10000 || HRESULT_FACILITY(refusal) == FACILITY_WIN32;
}

// What the system says of a file's signature, and who signed it.
struct SignatureVerdict {
    HRESULT status = kSignatureMissing;
    std::string signer;   // the signer's certificate as encoded; empty when none could be read
};

// Verifies the signature of an open file (its path names it to the system).
// No revocation check and no network: an offline machine gets the same answer.
// A signature whose certificate is outside its validity holds only through a
// timestamp from within it (JudgeValidityPeriod).
SignatureVerdict VerifySignature(HANDLE file, const wchar_t* path);

// What WinVerifyTrust tells of a signature's times, in FILETIME ticks (UTC).
struct SignatureTimes {
    bool known = false;           // the signer's certificate could be read
    ULONGLONG notBefore = 0;      // its validity
    ULONGLONG notAfter = 0;
    bool timestamped = false;     // it carries a timestamp (a counter-signature) whose own check held
    ULONGLONG verifiedAsOf = 0;   // the time it was checked as of: the timestamp's, else the current time
};

// The system's result for a signature, with its certificate's validity
// held against the current time or, when it carries one, the timestamp:
// CERT_E_EXPIRED for a certificate that has expired (or is not yet valid)
// unless a valid timestamp from within its validity vouches for the
// signature. A result that names only the root as untrusted does not hide
// an expired certificate; any other failure stands as it is.
HRESULT JudgeValidityPeriod(HRESULT status, const SignatureTimes& times, ULONGLONG now);

// A result that says only that the signer's root is not trusted on this
// machine (a test certificate, a machine that never saw the vendor's root):
// the digest was checked before it.
bool OnlyTheRootIsUntrusted(HRESULT status);

// The signature every file of the product must match.
struct ReferenceSignature {
    enum class Kind { kUnsigned, kSigned, kBroken } kind = Kind::kUnsigned;
    HRESULT status = S_OK;   // for kBroken: why the program's own signature does not hold
    std::string signer;      // for kSigned
};
ReferenceSignature ReferenceFrom(const SignatureVerdict& own);
// The running program's own: read once, on first use, from its executable.
// An executable without a signature is told from its header alone, so an
// unsigned program never loads the crypto libraries.
const ReferenceSignature& OwnSignature();

// S_OK when a file of that verdict may be used by a program of that
// reference; otherwise the reason, one of the results above or the
// system's own.
HRESULT JudgeSignature(const ReferenceSignature& reference, const SignatureVerdict& file);

// A file opened for reading with neither writing nor deletion shared, and
// checked against the reference through that handle. It stays so as long as
// this object lives (or until Release). Only a check that passed hands out
// the path and the handle to use: a file that could not even be opened for
// the check is refused like any other (its open error is the refusal), and
// one that is not there is absent, which is no refusal. The path to use is
// the one the held handle resolves to, with each of its folders held too
// (framework/HeldPath.h), so no link or rename can send it elsewhere.
// A program that checks nothing (a development build, unsigned) uses any
// file it finds by the path it was given, as it always has.
class CheckedFile {
public:
    CheckedFile() = default;
    CheckedFile(CheckedFile&& other) noexcept = default;
    CheckedFile& operator=(CheckedFile&& other) noexcept;
    ~CheckedFile();
    // Against this program's pin for a file of that name, else its signature.
    static CheckedFile Open(const wchar_t* path);
    // Against a signature only.
    static CheckedFile Open(const wchar_t* path, const ReferenceSignature& reference);

    // Nothing is at the path (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND).
    bool Absent() const { return absent_; }
    bool Passed() const { return !absent_ && refusal_ == S_OK; }
    // Why the file may not be used: the check's result, or the error that
    // kept it from being opened or its path from being held; S_OK when it
    // passed or is absent.
    HRESULT Refusal() const { return absent_ ? S_OK : refusal_; }
    // The path to start, load or install it by; null unless it passed.
    const wchar_t* UsablePath() const { return Passed() ? usablePath_.c_str() : nullptr; }
    // The held handle; null unless it passed (or when a development build
    // could not open it).
    HANDLE UsableHandle() const { return Passed() ? file_.get() : nullptr; }
    // The path as it was asked for, for records and messages only.
    const std::wstring& AskedPath() const { return path_; }
    void Release();

private:
    // Opens the file held; false (absent or refused) when it cannot be.
    bool OpenHeldFile(bool checking);
    // Holds the folders of the path the handle resolves to; false (refused) when they cannot be.
    bool HoldItsPath();

    std::wstring path_;
    std::wstring usablePath_;
    UniqueHandle file_;
    HeldFolders folders_;
    bool vouched_ = false;   // matched its pin: vouched for while held
    bool absent_ = true;
    HRESULT refusal_ = S_OK;
};

// What a check said, without the file.
struct CheckVerdict {
    bool absent = false;
    HRESULT refusal = S_OK;
};

// A check made ahead of its use, on another thread, and taken by whoever
// uses the file: the same path hands over the held file, another path (or
// none made yet) is checked then. Either side may come first.
class CheckAhead {
public:
    void Run(const wchar_t* path);
    // The verdict on path, checking it now when nothing is held for it
    // (the file then stays held for Take).
    CheckVerdict Verdict(const wchar_t* path);
    CheckedFile Take(const wchar_t* path);

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    bool held_ = false;
    bool taken_ = false;
    CheckedFile file_;
};

}  // namespace qx
