#pragma once
// Texts of a string table in the person's language, read the same way by
// every program of the product. The language is chosen here rather than
// left to LoadStringW, which takes the thread's language and gives an
// empty text where that language lacks one string of a block that it has.
#include <windows.h>

#include <initializer_list>
#include <string>

namespace qx {

inline constexpr LANGID kEnglishLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// String id of module (null: the program's own file) in exactly that
// language; empty when the module has none there.
std::wstring ResourceString(HMODULE module, UINT id, LANGID language);

// String id in the user's interface language, else in another language of
// the same primary language that the module holds, else in English, else
// in the neutral language; empty when none of them has it.
std::wstring LocalizedString(HMODULE module, UINT id);

// A message definition with its inserts %1, %2, ... given as texts (a '%'
// in an insert stays as it is). No line width: %n breaks a line. Empty
// when the definition asks for an insert that is not given, or cannot be
// formatted: a translation must never read past the inserts.
std::wstring FormatInserts(const std::wstring& definition, std::initializer_list<const wchar_t*> inserts);

// Whom a text is for: the person, in the user's interface language, or the
// log, which is English.
enum class TextFor { kPerson, kLog };

// String id of module (null: none) formatted with inserts, in the
// person's language or in English; where that text is missing or cannot be
// formatted, the module's English; where that fails too, englishFallback
// (formatted the same way).
std::wstring LocalizedText(HMODULE module, UINT id, const wchar_t* englishFallback,
                           std::initializer_list<const wchar_t*> inserts, TextFor reader = TextFor::kPerson);

// The file name in the folder of the module that holds code (null: the
// program), mapped as data only: by full path, so no search can put
// another file in its place, and with none of its code run. Null when it
// cannot be had. The caller frees it.
HMODULE LoadResourcesBeside(HMODULE code, const wchar_t* file);

}  // namespace qx
