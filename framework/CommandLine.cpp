#include "framework/CommandLine.h"

namespace qx {

const wchar_t* ArgumentTail(const wchar_t* commandLine) {
    if (!commandLine) return L"";
    const wchar_t* p = commandLine;
    bool quoted = false;
    while (*p && (*p > L' ' || quoted)) {
        if (*p == L'"') quoted = !quoted;
        ++p;
    }
    while (*p && *p <= L' ') ++p;
    return p;
}

}  // namespace qx
