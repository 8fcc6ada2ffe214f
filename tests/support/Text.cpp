#include "tests/support/Text.h"

#include <algorithm>
#include <sstream>

#include "framework/Ownership.h"
#include "framework/ResourceText.h"

namespace qxtest {

std::string Narrow(const std::wstring& s) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

std::vector<std::wstring> Words(const std::wstring& text) {
    std::wistringstream in(text);
    std::vector<std::wstring> words;
    for (std::wstring w; in >> w;) words.push_back(w);
    return words;
}

std::wstring SystemText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                   nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const qx::UniqueLocal owned(text);
    return text ? text : L"";
}

std::wstring ResourceString(const std::wstring& module, UINT id) {
    const qx::UniqueModule resources(LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    const wchar_t* text = nullptr;
    const int n = resources ? LoadStringW(resources.get(), id, reinterpret_cast<LPWSTR>(&text), 0) : 0;
    return n > 0 ? std::wstring(text, static_cast<size_t>(n)) : L"";
}

bool CopyModuleWithString(const std::wstring& from, const std::wstring& to, UINT id, LANGID language,
                          const std::wstring& text) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) return false;
    // Strings live in blocks of sixteen, each a count and its characters.
    const UINT first = id / 16 * 16;
    std::vector<std::wstring> strings(16);
    {
        const qx::UniqueModule module(
            LoadLibraryExW(to.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
        if (!module) return false;
        for (UINT i = 0; i < 16; ++i) strings[i] = qx::ResourceString(module.get(), first + i, language);
    }
    strings[id - first] = text;
    std::vector<WORD> block;
    for (const std::wstring& s : strings) {
        block.push_back(static_cast<WORD>(s.size()));
        block.insert(block.end(), s.begin(), s.end());
    }
    HANDLE update = BeginUpdateResourceW(to.c_str(), FALSE);
    if (!update) return false;
    const bool updated = UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language, block.data(),
                                         static_cast<DWORD>(block.size() * sizeof(WORD)));
    return EndUpdateResourceW(update, !updated) && updated;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

namespace {
template <typename Text>
size_t CountOf(const Text& text, const Text& part) {
    size_t n = 0;
    if (part.empty()) return n;
    for (size_t p = 0; (p = text.find(part, p)) != Text::npos; p += part.size()) ++n;
    return n;
}
}  // namespace

size_t Occurrences(const std::string& text, const std::string& part) { return CountOf(text, part); }
size_t Occurrences(const std::wstring& text, const std::wstring& part) { return CountOf(text, part); }

}  // namespace qxtest
