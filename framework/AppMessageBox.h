#pragma once
#include <windows.h>

// The application message box: no owner, the application name as caption.
// Blocks the calling thread until the user dismisses it.
int AppMessageBox(const wchar_t* text, UINT type = MB_OK | MB_ICONEXCLAMATION);
