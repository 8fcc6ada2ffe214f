// What the checks against the program's signature cost, in process: the
// program's own signature (the crypto libraries load for it), then each
// file of the product folder checked against it, as the launcher checks
// them. Its argument tail is the product folder; prints one line a figure:
//   check_us=own <microseconds>
//   check_us=<file> <microseconds> <result in hex>
#include <windows.h>

#include <cstdio>

#include "framework/FileSignature.h"
#include "framework/Ownership.h"

namespace {

long long Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
    return (to.QuadPart - from.QuadPart) * 1000000 / frequency.QuadPart;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring folder = argv[1];
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);

    const std::wstring launcher = folder + L"\\QXVSetup64.exe";
    QueryPerformanceCounter(&start);
    qx::UniqueHandle own(CreateFileW(launcher.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    const qx::ReferenceSignature reference = qx::ReferenceFrom(qx::VerifySignature(own.get(), launcher.c_str()));
    QueryPerformanceCounter(&end);
    std::printf("check_us=own %lld %d\n", Microseconds(start, end, frequency), static_cast<int>(reference.kind));

    for (const wchar_t* file : {L"QXVInstallActions64.dll", L"CustomActionData64.dll", L"QXPRP4005.msi",
                                L"QXPRP4005P64.dll", L"Setup.exe"}) {
        const std::wstring path = folder + L"\\" + file;
        QueryPerformanceCounter(&start);
        const qx::CheckedFile checked = qx::CheckedFile::Open(path.c_str(), reference);
        QueryPerformanceCounter(&end);
        std::printf("check_us=%ls %lld 0x%08lX\n", file, Microseconds(start, end, frequency),
                    static_cast<unsigned long>(checked.Refusal()));
    }
    return 0;
}
