#pragma once
// Whether a person can see this process's windows. Services and the
// co-installers of a device installation run in session 0, or on a window
// station that is not shown: a box there waits for a click nobody can give.
#include <windows.h>

namespace qx {

// False in session 0 and on a window station without WSF_VISIBLE; true
// when either cannot be read (a window then costs nothing worse than today).
bool PersonCanSeeWindows();

}  // namespace qx
