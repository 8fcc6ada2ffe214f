// A DLL planted under a companion module's name in the current folder and
// on PATH. It does nothing but leave a trace when some program loads it:
// one line "<this DLL's path>|<the program's path>" in "planted-loads.txt"
// beside itself.
#include <windows.h>

namespace {

void RecordLoad(HMODULE self) {
    wchar_t own[MAX_PATH] = {};
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(self, own, MAX_PATH);
    GetModuleFileNameW(nullptr, program, MAX_PATH);

    wchar_t record[MAX_PATH + 32] = {};
    lstrcpynW(record, own, MAX_PATH);
    wchar_t* slash = nullptr;
    for (wchar_t* p = record; *p; ++p)
        if (*p == L'\\') slash = p;
    if (!slash) return;
    lstrcpyW(slash + 1, L"planted-loads.txt");

    wchar_t line[2 * MAX_PATH + 4] = {};
    wsprintfW(line, L"%s|%s\r\n", own, program);
    char bytes[sizeof line] = {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
    HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (n > 1) WriteFile(file, bytes, static_cast<DWORD>(n - 1), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) RecordLoad(instance);
    return TRUE;
}
