#include "framework/ObjectSecurity.h"

#include "framework/FolderSecurity.h"

namespace qx {

namespace {

// The private descriptor with Administrators named as owner, which an
// elevated administrator's or SYSTEM's token may name.
constexpr wchar_t kMachineWideSddl[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE CreateWith(const wchar_t* sddl, const wchar_t* name, DWORD& error) {
    UniqueLocal descriptor = DescriptorFromSddl(sddl);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexW(descriptor ? &attributes : nullptr, TRUE, name);
    error = GetLastError();
    return mutex;
}

}  // namespace

UniqueHandle CreateMachineWideMutex(const wchar_t* name, MachineName& outcome) {
    DWORD error = ERROR_SUCCESS;
    UniqueHandle mutex(CreateWith(kMachineWideSddl, name, error));
    // A token that may not name Administrators as owner (not elevated)
    // leaves the owner to the system.
    if (!mutex && error == ERROR_INVALID_OWNER) mutex.reset(CreateWith(kPrivateObjectSddl, name, error));
    if (mutex && error != ERROR_ALREADY_EXISTS) {
        outcome = MachineName::kOwn;
        return mutex;
    }
    if (mutex) {
        // Made before us: by whom decides whether it is another launcher.
        if (IsAdministratorsOrSystem(OwnerOf(mutex.get(), SE_KERNEL_OBJECT))) {
            outcome = MachineName::kInUse;
            return mutex;
        }
        outcome = MachineName::kSquatted;
        return UniqueHandle();
    }
    // Every launcher lets administrators in: a name shut to us is someone else's.
    outcome = error == ERROR_ACCESS_DENIED ? MachineName::kSquatted : MachineName::kFailed;
    return UniqueHandle();
}

}  // namespace qx
