// A Pad that only records the command line it was given.
#include "tests/doubles/Record.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    qxdouble::AppendRecord(nullptr, L"pad-record.txt", GetCommandLineW());
    return 0;
}
