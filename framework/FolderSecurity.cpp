#include "framework/FolderSecurity.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

namespace qx {

namespace {

// Full control (FA) and read-and-execute (0x1200a9) for folders and for
// what they hold (OICI); P protects the list from the parent's entries.
constexpr wchar_t kCacheAccess[] = L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

Sid CopySid(PSID sid) {
    if (!sid || !IsValidSid(sid)) return Sid();
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

}  // namespace

UniqueLocal BuildCacheFolderDescriptor(bool withOwner) {
    return DescriptorFromSddl(std::wstring(withOwner ? L"O:BA" : L"") + kCacheAccess);
}

UniqueLocal BuildLogFolderDescriptor(const Sid& user) {
    const std::wstring sid = SidText(user);
    if (sid.empty()) return UniqueLocal();
    return DescriptorFromSddl(L"O:" + sid + L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")");
}

Sid OwnerOf(HANDLE entry) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return Sid();
    UniqueLocal owned(descriptor);
    return CopySid(owner);
}

bool IsAdministratorsOrSystem(const Sid& sid) {
    if (sid.empty()) return false;
    PSID p = const_cast<BYTE*>(sid.data());
    return IsWellKnownSid(p, WinBuiltinAdministratorsSid) || IsWellKnownSid(p, WinLocalSystemSid);
}

bool SameSid(const Sid& a, const Sid& b) {
    return !a.empty() && !b.empty() && EqualSid(const_cast<BYTE*>(a.data()), const_cast<BYTE*>(b.data()));
}

bool ApplyDescriptor(HANDLE entry, PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present)
        return false;
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    if (owner) what |= OWNER_SECURITY_INFORMATION;
    return SetSecurityInfo(entry, SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

bool CreateFolderWith(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    return CreateDirectoryW(path, &attributes) != FALSE;
}

}  // namespace qx
