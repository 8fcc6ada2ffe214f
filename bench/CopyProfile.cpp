// The parts of a cache copy, timed apart on the same tree:
//  - a plain walk that copies every "*.dll" entry at every level with
//    CreateDirectoryW and CopyFileW, what any copy of the tree has to do;
//  - then, for every file, the full-path and long-path look-ups of its
//    source and destination path, the comparison CopyInstallSource makes
//    before each file it copies.
//   bench_copyprofile <source> <destination>
// prints   walk_us=N lookup_us=N files=N
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "framework/Ownership.h"

namespace {

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

void Walk(const std::wstring& source, const std::wstring& destination, Pairs& files) {
    CreateDirectoryW(destination.c_str(), nullptr);
    WIN32_FIND_DATAW entry;
    const qx::UniqueFind search(FindFirstFileW((source + L"\\*.dll").c_str(), &entry));
    if (!search) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring from = source + L"\\" + name;
        const std::wstring to = destination + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Walk(from, to, files);
        } else {
            CopyFileW(from.c_str(), to.c_str(), FALSE);
            files.emplace_back(from, to);
        }
    } while (FindNextFileW(search.get(), &entry));
}

void LookUp(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    wchar_t longForm[MAX_PATH] = {};
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return;
    n = GetLongPathNameW(full, longForm, MAX_PATH);
    if (n > 0 && n < MAX_PATH) CharLowerBuffW(longForm, n);
}

long long Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (to.QuadPart - from.QuadPart) * 1000000 / frequency.QuadPart;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_copyprofile <source> <destination>\n");
        return 2;
    }
    Pairs files;
    LARGE_INTEGER start, walked, looked;
    QueryPerformanceCounter(&start);
    Walk(argv[1], argv[2], files);
    QueryPerformanceCounter(&walked);
    for (const auto& [from, to] : files) {
        LookUp(from);
        LookUp(to);
    }
    QueryPerformanceCounter(&looked);
    std::printf("walk_us=%lld lookup_us=%lld files=%zu\n", Microseconds(start, walked), Microseconds(walked, looked),
                files.size());
    std::fflush(stdout);
    return 0;
}
