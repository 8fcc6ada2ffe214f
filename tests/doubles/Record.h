#pragma once
// Appends one UTF-8 line to a record file beside the running module, so a
// test can read what a double was given.
#include <windows.h>

#include <string>

#include "framework/Ownership.h"
#include "tests/support/Paths.h"
#include "tests/support/Text.h"

namespace qxdouble {

// The module this code is linked into (a double DLL, or the program).
inline HMODULE ThisModule() {
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &m);
    return m;
}

inline void AppendRecordAt(const std::wstring& path, const std::wstring& line) {
    const qx::UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string utf8 = qxtest::Narrow(line + L"\n");
    DWORD written = 0;
    WriteFile(file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

inline void AppendRecord(HMODULE module, const wchar_t* file, const std::wstring& line) {
    AppendRecordAt(qxtest::ModuleFolder(module) + file, line);
}

}  // namespace qxdouble
