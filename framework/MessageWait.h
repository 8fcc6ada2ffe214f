#pragma once
// A wait without limit that keeps the waiting thread's windows answering:
// a window whose thread blocks counts as hung to Windows, and every program
// that sends it a message (a settings broadcast, the restart's
// WM_QUERYENDSESSION) blocks with it.
#include <windows.h>

namespace qx {

// Waits until one of the handles is signalled (any one), dispatching the
// thread's messages meanwhile. Returns what WaitForMultipleObjects would:
// WAIT_OBJECT_0 + i, WAIT_ABANDONED_0 + i, or WAIT_FAILED. A WM_QUIT that
// arrives meanwhile is posted again once the wait is over.
DWORD WaitPumpingMessages(DWORD count, const HANDLE* handles);

}  // namespace qx
