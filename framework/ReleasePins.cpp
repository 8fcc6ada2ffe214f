#include "framework/ReleasePins.h"

#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "framework/Ownership.h"
#include "framework/SystemLibrary.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace qx {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const wchar_t* FileNamePart(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    return name;
}

// The calls of bcrypt.dll, bound from the system folder on first use and
// kept to the end of the process.
struct HashCalls {
    decltype(&BCryptOpenAlgorithmProvider) open = nullptr;
    decltype(&BCryptCreateHash) create = nullptr;
    decltype(&BCryptHashData) data = nullptr;
    decltype(&BCryptFinishHash) finish = nullptr;
    decltype(&BCryptDestroyHash) destroy = nullptr;
    BCRYPT_ALG_HANDLE sha256 = nullptr;
};

const HashCalls& Hashing() {
    static const HashCalls calls = [] {
        HashCalls bound;
        HMODULE module = LoadSystemLibrary(L"bcrypt.dll");
        bound.open = BindProc<decltype(bound.open)>(module, "BCryptOpenAlgorithmProvider");
        bound.create = BindProc<decltype(bound.create)>(module, "BCryptCreateHash");
        bound.data = BindProc<decltype(bound.data)>(module, "BCryptHashData");
        bound.finish = BindProc<decltype(bound.finish)>(module, "BCryptFinishHash");
        bound.destroy = BindProc<decltype(bound.destroy)>(module, "BCryptDestroyHash");
        if (bound.open && bound.create && bound.data && bound.finish && bound.destroy &&
            bound.open(&bound.sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
            bound.sha256 = nullptr;
        return bound;
    }();
    return calls;
}

}  // namespace

std::optional<Sha256> PinIn(const char* pins, size_t length, const wchar_t* fileName) {
    const wchar_t* wanted = FileNamePart(fileName ? fileName : L"");
    const size_t wantedLength = wcslen(wanted);
    size_t line = 0;
    while (line < length) {
        size_t end = line;
        while (end < length && pins[end] != '\n') ++end;
        // "<name> <64 hex digits>": the name is plain ASCII, as the product's file names are.
        const size_t space = end >= 65 ? end - 65 : length;
        if (space < end && space >= line && pins[space] == ' ' && space - line == wantedLength) {
            bool sameName = true;
            for (size_t i = 0; i < wantedLength && sameName; ++i) {
                const wchar_t a = static_cast<wchar_t>(static_cast<unsigned char>(pins[line + i]));
                sameName = towlower(a) == towlower(wanted[i]);
            }
            Sha256 hash = {};
            bool hex = sameName;
            for (size_t i = 0; i < hash.size() && hex; ++i) {
                const int high = HexDigit(pins[space + 1 + 2 * i]);
                const int low = HexDigit(pins[space + 2 + 2 * i]);
                hex = high >= 0 && low >= 0;
                hash[i] = static_cast<BYTE>(high * 16 + low);
            }
            if (hex) return hash;
        }
        line = end + 1;
    }
    return std::nullopt;
}

std::optional<Sha256> ReleasePin(const wchar_t* fileName) {
    const auto module = reinterpret_cast<HMODULE>(&__ImageBase);
    HRSRC found = FindResourceW(module, kPinsResourceName, MAKEINTRESOURCEW(10));   // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!text) return std::nullopt;
    return PinIn(text, SizeofResource(module, found), fileName);
}

DWORD HashOpenFile(HANDLE file, Sha256& hash) {
    const HashCalls& calls = Hashing();
    if (!calls.sha256) return ERROR_MOD_NOT_FOUND;
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return GetLastError();
    BCRYPT_HASH_HANDLE state = nullptr;
    if (calls.create(calls.sha256, &state, nullptr, 0, nullptr, 0, 0) != 0) return ERROR_INVALID_FUNCTION;
    std::vector<BYTE> buffer(1 << 20);
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            error = GetLastError();
            break;
        }
        if (read == 0) break;
        if (calls.data(state, buffer.data(), read, 0) != 0) {
            error = ERROR_INVALID_FUNCTION;
            break;
        }
    }
    if (error == ERROR_SUCCESS && calls.finish(state, hash.data(), static_cast<ULONG>(hash.size()), 0) != 0)
        error = ERROR_INVALID_FUNCTION;
    calls.destroy(state);
    // Whoever uses the file next reads it from its start.
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    return error;
}

bool ProgramCarriesSignature() {
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE) return true;   // unreadable: let the check decide
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return true;
    if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_SECURITY) return false;
    return nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0;
}

namespace {

struct Vouch {
    HANDLE held;
    Sha256 hash;
};
SRWLOCK g_vouchLock = SRWLOCK_INIT;
std::vector<Vouch> g_vouches;

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x = {}, y = {};
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

void VouchForHeldFile(HANDLE held, const Sha256& hash) {
    AcquireSRWLockExclusive(&g_vouchLock);
    g_vouches.push_back({held, hash});
    ReleaseSRWLockExclusive(&g_vouchLock);
}

void WithdrawVouch(HANDLE held) {
    AcquireSRWLockExclusive(&g_vouchLock);
    for (size_t i = 0; i < g_vouches.size(); ++i)
        if (g_vouches[i].held == held) {
            g_vouches.erase(g_vouches.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    ReleaseSRWLockExclusive(&g_vouchLock);
}

bool VouchedHash(HANDLE file, Sha256& hash) {
    bool found = false;
    AcquireSRWLockShared(&g_vouchLock);
    for (const Vouch& vouch : g_vouches)
        if (SameFile(vouch.held, file)) {
            hash = vouch.hash;
            found = true;
            break;
        }
    ReleaseSRWLockShared(&g_vouchLock);
    return found;
}

bool AskHostToVouch(HANDLE file, Sha256& hash) {
    using VouchFn = BOOL(WINAPI*)(HANDLE, BYTE*);
    const auto ask = BindProc<VouchFn>(GetModuleHandleW(nullptr), kVouchedHashExport);
    return ask && ask(file, hash.data());
}

std::wstring FileVersionOf(const wchar_t* path) {
    using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    static const HMODULE module = LoadSystemLibrary(L"version.dll");
    const auto size = BindProc<SizeFn>(module, "GetFileVersionInfoSizeW");
    const auto info = BindProc<InfoFn>(module, "GetFileVersionInfoW");
    const auto query = BindProc<QueryFn>(module, "VerQueryValueW");
    DWORD ignored = 0;
    const DWORD bytes = size && info && query && path ? size(path, &ignored) : 0;
    if (!bytes) return L"";
    std::vector<BYTE> block(bytes);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!info(path, 0, bytes, block.data()) ||
        !query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed || length < sizeof *fixed)
        return L"";
    wchar_t text[48] = {};
    _snwprintf(text, 47, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    return text;
}

}  // namespace qx
