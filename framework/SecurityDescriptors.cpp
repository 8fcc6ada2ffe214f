#include "framework/SecurityDescriptors.h"

#include <sddl.h>

namespace qx {

Sid CurrentUserSid() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return Sid();
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return Sid();
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    if (!IsValidSid(sid)) return Sid();
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

std::wstring SidText(const Sid& sid) {
    wchar_t* text = nullptr;
    if (sid.empty() || !ConvertSidToStringSidW(const_cast<BYTE*>(sid.data()), &text)) return L"";
    UniqueLocal owned(text);
    return text;
}

UniqueLocal DescriptorFromSddl(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return UniqueLocal();
    return UniqueLocal(descriptor);
}

}  // namespace qx
