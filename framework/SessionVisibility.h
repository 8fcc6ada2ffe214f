#pragma once
// Whether a person can see this process's windows. Services and the
// co-installers of a device installation run in session 0, or on a window
// station that is not shown: a box there waits for a click nobody can give.
#include <windows.h>

namespace qx {

// False in session 0 and on a window station without WSF_VISIBLE; true
// when either cannot be read (a window then costs nothing worse than today).
bool PersonCanSeeWindows();

// Whether the process runs in the logon session of the user its window
// station belongs to (its token holds the station's logon SID): the user
// ExitWindowsEx restarts the machine for. False for a process that runs as
// another user there; true when the station's user cannot be read.
bool RunsAsTheWindowStationsUser();

}  // namespace qx
