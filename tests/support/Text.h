#pragma once
// Text helpers: conversions, words, the system's messages and a module's
// strings, and counting in lists and texts.
#include <windows.h>

#include <string>
#include <vector>

namespace qxtest {

// UTF-8 both ways.
std::string Narrow(const std::wstring& s);
std::wstring Widen(const std::string& s);
std::wstring Lower(std::wstring s);

// The words of a text, so that line wrapping does not count.
std::vector<std::wstring> Words(const std::wstring& text);
// The system's text for an error code; empty when it has none.
std::wstring SystemText(DWORD code);
// A string of a module's string table, the module mapped for its resources
// only; empty when there is none.
std::wstring ResourceString(const std::wstring& module, UINT id);
// A copy of the module at to whose string id in language is text (empty:
// the string taken out), the other strings of its block kept, made with
// the system's resource update. False when it cannot be made.
bool CopyModuleWithString(const std::wstring& from, const std::wstring& to, UINT id, LANGID language,
                          const std::wstring& text);

bool Contains(const std::vector<std::string>& texts, const std::string& text);
// How often part occurs in text, not overlapping.
size_t Occurrences(const std::string& text, const std::string& part);
size_t Occurrences(const std::wstring& text, const std::wstring& part);

}  // namespace qxtest
