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

#include "framework/Ownership.h"

namespace qx {

// The results a refused file gives, as the system names them.
constexpr HRESULT kSignatureMissing = static_cast<HRESULT>(0x800B0100);      // TRUST_E_NOSIGNATURE
constexpr HRESULT kSignatureBadDigest = static_cast<HRESULT>(0x80096010);    // TRUST_E_BAD_DIGEST
constexpr HRESULT kSignerNotOurs = static_cast<HRESULT>(0x800B0004);         // TRUST_E_SUBJECT_NOT_TRUSTED
// A pinned file whose content is not its release's: ERROR_REVISION_MISMATCH,
// "Indicates two revision levels are incompatible."
constexpr HRESULT kNotThisRelease = static_cast<HRESULT>(ERROR_REVISION_MISMATCH);

// What the system says of a file's signature, and who signed it.
struct SignatureVerdict {
    HRESULT status = kSignatureMissing;
    std::string signer;   // the signer's certificate as encoded; empty when none could be read
};

// Verifies the signature of an open file (its path names it to the system).
// No revocation check and no network: an offline machine gets the same answer.
SignatureVerdict VerifySignature(HANDLE file, const wchar_t* path);

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
// this object lives (or until Release).
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

    // Why the file could not be opened (ERROR_FILE_NOT_FOUND, ...); 0 when it was.
    DWORD OpenError() const { return openError_; }
    // S_OK when the file was opened and may be used.
    HRESULT Result() const { return result_; }
    bool Passed() const { return openError_ == ERROR_SUCCESS && result_ == S_OK; }
    // Opened, and refused by the check.
    bool Refused() const { return openError_ == ERROR_SUCCESS && result_ != S_OK; }
    const std::wstring& Path() const { return path_; }
    HANDLE Handle() const { return file_.get(); }
    void Release();

private:
    std::wstring path_;
    UniqueHandle file_;
    bool vouched_ = false;   // matched its pin: vouched for while held
    DWORD openError_ = ERROR_FILE_NOT_FOUND;
    HRESULT result_ = S_OK;
};

// What a check said, without the file.
struct CheckVerdict {
    DWORD openError = ERROR_SUCCESS;
    HRESULT result = S_OK;
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
