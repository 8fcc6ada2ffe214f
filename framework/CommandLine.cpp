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

std::vector<std::wstring> SplitArguments(const wchar_t* tail) {
    std::vector<std::wstring> arguments;
    if (!tail) return arguments;
    const wchar_t* p = tail;
    for (;;) {
        while (*p == L' ' || *p == L'\t') ++p;
        if (!*p) break;
        std::wstring argument;
        bool quoted = false;
        while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
            size_t backslashes = 0;
            while (*p == L'\\') {
                ++backslashes;
                ++p;
            }
            if (*p == L'"') {
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2) {
                    argument.push_back(L'"');
                } else if (quoted && p[1] == L'"') {
                    argument.push_back(L'"');
                    ++p;
                } else {
                    quoted = !quoted;
                }
                ++p;
            } else {
                argument.append(backslashes, L'\\');
                if (*p && (quoted || (*p != L' ' && *p != L'\t'))) argument.push_back(*p++);
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

}  // namespace qx
