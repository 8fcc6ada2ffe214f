#pragma once
#include <windows.h>

// The install worker: one installation, the InstallRequest given as param
// (made with new; the worker owns it). Releasing its mutex is its last act
// and its only signal to the dialog. Always returns 1.
UINT MSIThreadProc(LPVOID param);
