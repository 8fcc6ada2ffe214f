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

bool RunsAsTheWindowStationsUser() {
    HWINSTA station = GetProcessWindowStation();
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD needed = 0;
    if (!station || !GetUserObjectInformationW(station, UOI_USER_SID, sid, sizeof sid, &needed) || needed == 0 ||
        !IsValidSid(sid))
        return true;
    BOOL member = FALSE;
    return !CheckTokenMembership(nullptr, sid, &member) || member;
}

}  // namespace qx
