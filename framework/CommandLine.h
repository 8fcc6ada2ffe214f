#pragma once
#include <string>
#include <vector>

namespace qx {

// The command line without the program name. The program name ends at the
// first character of code 32 or less outside double quotes (each quote
// switches quoting); the characters of code 32 or less after it are skipped.
// Returns a pointer into commandLine (never null for a non-null input).
const wchar_t* ArgumentTail(const wchar_t* commandLine);

// The argument tail split into arguments as Windows' programs split theirs:
// blanks and tabs separate arguments outside double quotes; a quote starts
// or ends quoting and is dropped, "" inside quotes is one quote; 2n
// backslashes before a quote are n backslashes and the quote counts, 2n+1
// are n and a literal quote; other backslashes are kept as they are.
std::vector<std::wstring> SplitArguments(const wchar_t* tail);

}  // namespace qx
