// Times the launcher's cache copy of a source folder, in this process.
//   bench_cachecopy <source> <destination>
// prints   copy_us=N
#include <windows.h>

#include <cstdio>

#include "app/SetupApp.h"
#include "cache/CacheCopy.h"

// The application object the launcher's library expects.
CSetupApp theApp;

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_cachecopy <source> <destination>\n");
        return 2;
    }
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    CopyInstallSource(argv[1], argv[2]);
    QueryPerformanceCounter(&after);
    std::printf("copy_us=%lld\n", (after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart);
    std::fflush(stdout);
    return 0;
}
