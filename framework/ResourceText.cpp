#include "framework/ResourceText.h"

#include <vector>

#include "framework/BoundedText.h"
#include "framework/ModuleFolder.h"
#include "framework/Ownership.h"

namespace qx {

namespace {

// Strings live in blocks of sixteen: block id / 16 + 1, each entry a count
// and that many characters.
constexpr UINT kStringsPerBlock = 16;
constexpr UINT kHighestStringId = 0xFFFF;

LPCWSTR BlockOf(UINT id) { return MAKEINTRESOURCEW(id / kStringsPerBlock + 1); }

// The languages a module holds the string block of id in.
std::vector<LANGID> LanguagesOf(HMODULE module, UINT id) {
    std::vector<LANGID> languages;
    EnumResourceLanguagesW(
        module, RT_STRING, BlockOf(id),
        [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) -> BOOL {
            reinterpret_cast<std::vector<LANGID>*>(param)->push_back(language);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

// An insert names its number with one or two digits after the '%'.
bool InsertsWithin(const std::wstring& definition, size_t given) {
    for (size_t i = 0; i < definition.size(); ++i) {
        if (definition[i] != L'%' || ++i == definition.size()) continue;
        if (definition[i] < L'1' || definition[i] > L'9') continue;   // %n, %t, %%, %0 ... read nothing
        size_t number = definition[i] - L'0';
        if (i + 1 < definition.size() && definition[i + 1] >= L'0' && definition[i + 1] <= L'9')
            number = number * 10 + (definition[++i] - L'0');
        if (number > given) return false;
        // A printf form (%1!*s!) may read arguments of its own.
        if (i + 1 < definition.size() && definition[i + 1] == L'!') return false;
    }
    return true;
}

}  // namespace

std::wstring ResourceString(HMODULE module, UINT id, LANGID language) {
    if (id > kHighestStringId) return {};
    HRSRC found = FindResourceExW(module, RT_STRING, BlockOf(id), language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const WCHAR* block = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    if (!block) return {};
    // A damaged block is read no further than its size.
    const size_t size = SizeofResource(module, found) / sizeof(WCHAR);
    size_t at = 0;
    for (UINT i = 0; i < id % kStringsPerBlock && at < size; ++i) at += 1 + static_cast<size_t>(block[at]);
    if (at >= size) return {};
    const size_t length = block[at];
    if (length == 0 || length > size - at - 1) return {};
    return std::wstring(block + at + 1, length);
}

std::wstring LocalizedString(HMODULE module, UINT id) {
    const LANGID user = GetUserDefaultUILanguage();
    std::vector<LANGID> order = {user};
    const std::vector<LANGID> held = LanguagesOf(module, id);
    for (LANGID language : held)
        if (PRIMARYLANGID(language) == PRIMARYLANGID(user)) order.push_back(language);
    order.push_back(kEnglishLanguage);
    for (LANGID language : held)
        if (PRIMARYLANGID(language) == LANG_ENGLISH) order.push_back(language);
    order.push_back(MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    for (LANGID language : order) {
        std::wstring text = ResourceString(module, id, language);
        if (!text.empty()) return text;
    }
    return {};
}

std::wstring FormatInserts(const std::wstring& definition, std::initializer_list<const wchar_t*> inserts) {
    if (definition.empty() || !InsertsWithin(definition, inserts.size())) return {};
    std::vector<DWORD_PTR> arguments;
    for (const wchar_t* insert : inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(insert ? insert : L""));
    arguments.push_back(0);   // never read: an array even when nothing is inserted
    UniqueLocal buffer;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, definition.c_str(),
        0, 0, reinterpret_cast<LPWSTR>(buffer.put()), 0, reinterpret_cast<va_list*>(arguments.data()));
    return n != 0 && buffer ? std::wstring(static_cast<const wchar_t*>(buffer.get()), n) : std::wstring();
}

std::wstring LocalizedText(HMODULE module, UINT id, const wchar_t* englishFallback,
                           std::initializer_list<const wchar_t*> inserts, TextFor reader) {
    std::wstring text;
    if (module) {
        if (reader == TextFor::kPerson) text = FormatInserts(LocalizedString(module, id), inserts);
        if (text.empty()) text = FormatInserts(ResourceString(module, id, kEnglishLanguage), inserts);
    }
    if (text.empty() && englishFallback) text = FormatInserts(englishFallback, inserts);
    return text;
}

HMODULE LoadResourcesBeside(HMODULE code, const wchar_t* file) {
    wchar_t path[MAX_PATH] = {};
    if (!GetModuleFolder(code, path, MAX_PATH) || !BoundedAppend(path, MAX_PATH, file)) return nullptr;
    return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
}

}  // namespace qx
