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

Sid OwnerOf(HANDLE entry, SE_OBJECT_TYPE type) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(entry, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
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

namespace {

// The rights that change a folder or what it holds.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                      FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL | MAXIMUM_ALLOWED;

bool IsTrustedInstaller(PSID sid) {
    // NT SERVICE\TrustedInstaller, the service SID of its name.
    static const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    return SidText(CopySid(sid)) == kTrustedInstaller;
}

bool IsTrustedChanger(PSID sid) {
    return IsAdministratorsOrSystem(CopySid(sid)) || IsTrustedInstaller(sid);
}

bool Refuse(std::wstring* why, std::wstring text) {
    if (why) *why = std::move(text);
    return false;
}

}  // namespace

bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR descriptor, std::wstring* why) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner)
        return Refuse(why, L"has no owner that can be read");
    // The owner may always change the rights.
    if (!IsTrustedChanger(owner)) return Refuse(why, L"is not owned by Administrators, SYSTEM or TrustedInstaller");
    PACL dacl = nullptr;
    BOOL present = FALSE;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return Refuse(why, L"has an access list that cannot be read");
    if (!present || !dacl) return Refuse(why, L"has no access list: everyone may change it");
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return Refuse(why, L"has an access list that cannot be read");
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // An entry for neither the folder itself nor anything made in it grants nothing.
        if ((header->AceFlags & INHERIT_ONLY_ACE) &&
            !(header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)))
            continue;
        switch (header->AceType) {
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
                // Both lay out the mask, then the SID.
                const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
                if (!(allowed->Mask & kChangeRights)) continue;
                PSID sid = const_cast<DWORD*>(&allowed->SidStart);
                if (IsTrustedChanger(sid)) continue;
                // Whoever makes something in the folder becomes its owner;
                // only the trusted can make anything there.
                if ((header->AceFlags & INHERIT_ONLY_ACE) && IsWellKnownSid(sid, WinCreatorOwnerSid)) continue;
                return Refuse(why, L"lets " + SidText(CopySid(sid)) + L" change it");
            }
            case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            case ACCESS_ALLOWED_COMPOUND_ACE_TYPE: {
                // Of a kind folders do not carry: whoever it names, it counts.
                const auto* allowed = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(ace);
                if (allowed->Mask & kChangeRights)
                    return Refuse(why, L"has an allowing entry of another kind");
                continue;
            }
            default:
                // Denying and auditing entries grant nothing.
                continue;
        }
    }
    return true;
}

bool OnlyAdministratorsCanChangeEntry(HANDLE entry, std::wstring* why) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return Refuse(why, L"has access rights that cannot be read");
    UniqueLocal owned(descriptor);
    return OnlyAdministratorsCanChange(descriptor, why);
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
