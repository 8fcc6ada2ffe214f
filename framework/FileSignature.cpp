#include "framework/FileSignature.h"

#include <softpub.h>
#include <wintrust.h>

#include "framework/ReleasePins.h"
#include "framework/SystemLibrary.h"

namespace qx {

namespace {

// wintrust.dll is not among the DLLs Windows always takes from its system
// folder, so it is bound at run time from there, on first use. Kept to the
// end of the process on purpose: the bound calls point into it.
struct TrustCalls {
    decltype(&WinVerifyTrust) verify = nullptr;
    decltype(&WTHelperProvDataFromStateData) providerData = nullptr;
    decltype(&WTHelperGetProvSignerFromChain) signer = nullptr;
    HRESULT error = S_OK;
};

// What the crypto libraries bring in by bare name, some through delay-loaded
// imports (wintrust.dll, then imagehlp.dll, then dbghelp.dll) that Wine
// resolves from the program's folder first whatever the process's search
// says. Loaded by full path from the system folder beforehand, so those
// lookups find them loaded; kept to the end of the process.
constexpr const wchar_t* kTrustHelpers[] = {L"crypt32.dll", L"dbghelp.dll", L"imagehlp.dll", L"rsaenh.dll",
                                            L"bcrypt.dll"};

const TrustCalls& Trust() {
    static const TrustCalls calls = [] {
        TrustCalls bound;
        for (const wchar_t* helper : kTrustHelpers) LoadSystemLibrary(helper);
        HMODULE module = LoadSystemLibrary(L"wintrust.dll");
        if (!module) {
            bound.error = HRESULT_FROM_WIN32(LoadFailure(GetLastError()));
            return bound;
        }
        bound.verify = BindProc<decltype(bound.verify)>(module, "WinVerifyTrust");
        bound.providerData = BindProc<decltype(bound.providerData)>(module, "WTHelperProvDataFromStateData");
        bound.signer = BindProc<decltype(bound.signer)>(module, "WTHelperGetProvSignerFromChain");
        if (!bound.verify || !bound.providerData || !bound.signer) bound.error = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        return bound;
    }();
    return calls;
}

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

UniqueHandle OpenHeld(const wchar_t* path, DWORD& error) {
    // Others may read it (the loader, the installer, the cache copy), but
    // none may write, rename or delete it while it is held.
    UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    if (!file && error == ERROR_SUCCESS) error = ERROR_OPEN_FAILED;
    return file;
}

}  // namespace

SignatureVerdict VerifySignature(HANDLE file, const wchar_t* path) {
    SignatureVerdict verdict;
    const TrustCalls& trust = Trust();
    if (trust.error != S_OK) {
        verdict.status = trust.error;
        return verdict;
    }
    WINTRUST_FILE_INFO info = {};
    info.cbStruct = sizeof info;
    info.pcwszFilePath = path;
    info.hFile = file;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    verdict.status = static_cast<HRESULT>(trust.verify(noWindow, &action, &data));

    // The signer is read whatever the result: a root that is only not
    // trusted here still names a signer whose digest held.
    SignatureTimes times;
    if (data.hWVTStateData) {
        CRYPT_PROVIDER_DATA* provider = trust.providerData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider ? trust.signer(provider, 0, FALSE, 0) : nullptr;
        if (signer && signer->csCertChain > 0 && signer->pasCertChain && signer->pasCertChain[0].pCert) {
            const CERT_CONTEXT* leaf = signer->pasCertChain[0].pCert;
            verdict.signer.assign(reinterpret_cast<const char*>(leaf->pbCertEncoded), leaf->cbCertEncoded);
            times.known = leaf->pCertInfo != nullptr;
            if (times.known) {
                times.notBefore = Ticks(leaf->pCertInfo->NotBefore);
                times.notAfter = Ticks(leaf->pCertInfo->NotAfter);
            }
            times.verifiedAsOf = Ticks(signer->sftVerifyAsOf);
            // The timestamp is the signature's counter-signer; the system
            // checked it and, when it held, verified the signature as of its time.
            for (DWORD i = 0; signer->pasCounterSigners && i < signer->csCounterSigners; ++i)
                if (signer->pasCounterSigners[i].dwError == ERROR_SUCCESS) times.timestamped = true;
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    trust.verify(noWindow, &action, &data);
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    verdict.status = JudgeValidityPeriod(verdict.status, times, Ticks(now));
    return verdict;
}

HRESULT JudgeValidityPeriod(HRESULT status, const SignatureTimes& times, ULONGLONG now) {
    if (status == kSignatureExpired) return kSignatureExpired;
    if ((status != S_OK && !OnlyTheRootIsUntrusted(status)) || !times.known) return status;
    const auto within = [&times](ULONGLONG when) { return when >= times.notBefore && when <= times.notAfter; };
    if (within(now)) return status;
    if (times.timestamped && within(times.verifiedAsOf)) return status;
    return kSignatureExpired;
}

bool OnlyTheRootIsUntrusted(HRESULT status) {
    return status == CERT_E_UNTRUSTEDROOT || status == CERT_E_CHAINING || status == CERT_E_UNTRUSTEDTESTROOT;
}

ReferenceSignature ReferenceFrom(const SignatureVerdict& own) {
    ReferenceSignature reference;
    if (own.status == kSignatureMissing) return reference;
    if ((own.status == S_OK || OnlyTheRootIsUntrusted(own.status)) && !own.signer.empty()) {
        reference.kind = ReferenceSignature::Kind::kSigned;
        reference.signer = own.signer;
        return reference;
    }
    // Signed, but the signature does not hold (or cannot be read): such a
    // program trusts no file at all rather than every file.
    reference.kind = ReferenceSignature::Kind::kBroken;
    reference.status = own.status != S_OK ? own.status : kSignatureMissing;
    return reference;
}

const ReferenceSignature& OwnSignature() {
    static const ReferenceSignature own = [] {
        if (!ProgramCarriesSignature()) return ReferenceSignature{};
        wchar_t path[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        DWORD error = ERROR_SUCCESS;
        const UniqueHandle self = n && n < MAX_PATH ? OpenHeld(path, error) : UniqueHandle();
        if (!self) {
            ReferenceSignature broken;
            broken.kind = ReferenceSignature::Kind::kBroken;
            broken.status = HRESULT_FROM_WIN32(n && n < MAX_PATH ? error : ERROR_BAD_PATHNAME);
            return broken;
        }
        return ReferenceFrom(VerifySignature(self.get(), path));
    }();
    return own;
}

HRESULT JudgeSignature(const ReferenceSignature& reference, const SignatureVerdict& file) {
    switch (reference.kind) {
        case ReferenceSignature::Kind::kUnsigned: return S_OK;
        case ReferenceSignature::Kind::kBroken: return reference.status;
        case ReferenceSignature::Kind::kSigned: break;
    }
    if (file.status != S_OK && !OnlyTheRootIsUntrusted(file.status)) return file.status;
    if (file.signer.empty()) return kSignatureMissing;
    // The certificates themselves, not their names: anyone can make a
    // certificate with the vendor's name on it.
    return file.signer == reference.signer ? S_OK : kSignerNotOurs;
}

bool CheckedFile::OpenHeldFile(bool checking) {
    DWORD error = ERROR_SUCCESS;
    file_ = OpenHeld(path_.c_str(), error);
    absent_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    usablePath_ = path_;
    if (file_ || absent_) return static_cast<bool>(file_);
    // Held open by another program in a way that shuts the check out (with
    // delete access, say): what cannot be checked is not used. A program
    // that checks nothing takes it as it always has.
    refusal_ = checking ? static_cast<HRESULT>(error) : S_OK;
    return false;
}

bool CheckedFile::HoldItsPath() {
    const DWORD error = HoldPathOf(file_.get(), usablePath_, folders_);
    if (error == ERROR_SUCCESS) return true;
    refusal_ = static_cast<HRESULT>(error);
    return false;
}

CheckedFile CheckedFile::Open(const wchar_t* path, const ReferenceSignature& reference) {
    CheckedFile checked;
    checked.path_ = path ? path : L"";
    const bool checking = reference.kind != ReferenceSignature::Kind::kUnsigned;
    if (!checked.OpenHeldFile(checking) || !checking) return checked;
    if (!checked.HoldItsPath()) return checked;
    checked.refusal_ = JudgeSignature(reference, VerifySignature(checked.file_.get(), checked.usablePath_.c_str()));
    return checked;
}

CheckedFile CheckedFile::Open(const wchar_t* path) {
    // Told from the program's own header: an unsigned program loads no crypto library at all.
    if (!ProgramCarriesSignature()) return Open(path, ReferenceSignature{});
    const std::optional<Sha256> pin = ReleasePin(path ? path : L"");
    if (!pin) return Open(path, OwnSignature());
    CheckedFile checked;
    checked.path_ = path ? path : L"";
    if (!checked.OpenHeldFile(true) || !checked.HoldItsPath()) return checked;
    // Hashed through the handle that is held until the use: what was hashed
    // is what is used. A file the host program holds since its own hash of
    // it matched is not hashed again.
    Sha256 hash = {};
    DWORD error = ERROR_SUCCESS;
    if (!AskHostToVouch(checked.file_.get(), hash) || hash != *pin) error = HashOpenFile(checked.file_.get(), hash);
    checked.refusal_ = error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : hash == *pin ? S_OK : kNotThisRelease;
    if (checked.refusal_ == S_OK) {
        VouchForHeldFile(checked.file_.get(), hash);
        checked.vouched_ = true;
    }
    return checked;
}

CheckedFile& CheckedFile::operator=(CheckedFile&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        usablePath_ = std::move(other.usablePath_);
        file_ = std::move(other.file_);
        folders_ = std::move(other.folders_);
        vouched_ = other.vouched_;
        other.vouched_ = false;
        absent_ = other.absent_;
        refusal_ = other.refusal_;
    }
    return *this;
}

CheckedFile::~CheckedFile() { Release(); }

void CheckedFile::Release() {
    // The word is withdrawn before the handle goes: a handle value may come again.
    if (vouched_ && file_) WithdrawVouch(file_.get());
    vouched_ = false;
    file_.reset();
    folders_ = HeldFolders();
}

void CheckAhead::Run(const wchar_t* path) {
    AcquireSRWLockExclusive(&lock_);
    if (!held_ && !taken_) {
        file_ = CheckedFile::Open(path);
        held_ = true;
    }
    ReleaseSRWLockExclusive(&lock_);
}

CheckVerdict CheckAhead::Verdict(const wchar_t* path) {
    Run(path);
    AcquireSRWLockShared(&lock_);
    CheckVerdict verdict;
    if (held_ && path && _wcsicmp(file_.AskedPath().c_str(), path) == 0) {
        verdict = {file_.Absent(), file_.Refusal()};
        ReleaseSRWLockShared(&lock_);
        return verdict;
    }
    ReleaseSRWLockShared(&lock_);
    const CheckedFile now = CheckedFile::Open(path);
    return {now.Absent(), now.Refusal()};
}

CheckedFile CheckAhead::Take(const wchar_t* path) {
    AcquireSRWLockExclusive(&lock_);
    CheckedFile taken;
    const bool same = held_ && path && _wcsicmp(file_.AskedPath().c_str(), path) == 0;
    if (same) {
        taken = std::move(file_);
        file_ = CheckedFile();
    }
    // Taken once: a later use checks afresh, and a check ahead that comes
    // too late holds nothing nobody takes.
    held_ = held_ && !same;
    taken_ = true;
    ReleaseSRWLockExclusive(&lock_);
    return same ? std::move(taken) : CheckedFile::Open(path);
}

}  // namespace qx
