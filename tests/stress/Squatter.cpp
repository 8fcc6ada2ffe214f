// Another program that makes one of the launcher's object names first.
//   event NAME READY MS
//     creates the auto-reset event NAME, sets the event READY, then for MS
//     ms keeps waiting on NAME, so that every signal it gets is taken.
//   mutex NAME READY MS
//     creates the mutex NAME owned, sets READY and holds it for MS ms.
// Exit code 0 when it made the object itself; 10 when the name existed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/Ownership.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fputs("usage: event|mutex NAME READY MS\n", stderr);
        return 2;
    }
    const std::wstring kind = argv[1];
    const qx::UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]));
    if (!ready) return 3;
    const DWORD ms = static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10));
    qx::UniqueHandle object(kind == L"event" ? CreateEventW(nullptr, FALSE, FALSE, argv[2])
                                             : CreateMutexW(nullptr, TRUE, argv[2]));
    if (!object) return 4;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    SetEvent(ready.get());
    const DWORD start = GetTickCount();
    if (kind == L"event") {
        while (GetTickCount() - start < ms) WaitForSingleObject(object.get(), 50);
    } else {
        Sleep(ms);
    }
    return existed ? 10 : 0;
}
