#pragma once
#include <windows.h>

inline constexpr wchar_t kWorkerMutexName[] = L"Global\\MSITHREAD-{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}";

// The install worker: one installation from the setup dialog given as
// param. Releasing its mutex is its last act and its only signal to the
// dialog. Always returns 1.
UINT MSIThreadProc(LPVOID param);
