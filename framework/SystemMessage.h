#pragma once
// The system's text for an error code, in the user's default language.
#include <windows.h>

#include <string>

#include "framework/Ownership.h"

namespace qx {

// Empty when the system has no text for the code. lineWidth 0 keeps the
// text's own line breaks; otherwise lines are wrapped at that many
// characters (at most 254).
inline std::wstring SystemMessage(DWORD code, DWORD lineWidth = 0) {
    UniqueLocal buffer;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_ALLOCATE_BUFFER | (lineWidth & FORMAT_MESSAGE_MAX_WIDTH_MASK),
                                   nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(buffer.put()), 0,
                                   nullptr);
    return n != 0 && buffer ? std::wstring(static_cast<const wchar_t*>(buffer.get())) : std::wstring();
}

}  // namespace qx
