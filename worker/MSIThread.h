#pragma once
#include <windows.h>

// The install worker: one installation from the setup dialog given as
// param. Releasing its mutex is its last act and its only signal to the
// dialog. Always returns 1.
UINT MSIThreadProc(LPVOID param);
