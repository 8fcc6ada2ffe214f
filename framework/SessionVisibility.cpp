#include "framework/SessionVisibility.h"

namespace qx {

bool PersonCanSeeWindows() {
    DWORD session = 0;
    // Session 0 is the services' own: no person logs on to it since Windows Vista.
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return false;
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    if (station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed))
        return (flags.dwFlags & WSF_VISIBLE) != 0;
    return true;
}

}  // namespace qx
