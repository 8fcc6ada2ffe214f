#pragma once

namespace qx {

// The command line without the program name. The program name ends at the
// first character of code 32 or less outside double quotes (each quote
// switches quoting); the characters of code 32 or less after it are skipped.
// Returns a pointer into commandLine (never null for a non-null input).
const wchar_t* ArgumentTail(const wchar_t* commandLine);

}  // namespace qx
