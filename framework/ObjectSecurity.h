#pragma once
// Named kernel objects that no other program can take over. Another program
// may create a name first (a squatter) and then hold, signal or wait on the
// object it made: the launcher then uses an unnamed object of its own. An
// object the launcher names itself gets a descriptor that lets only SYSTEM
// and elevated administrators open it; the launcher is elevated, so an
// unelevated program of the same user cannot reach it.
#include <windows.h>
#include <string>

#include "framework/Ownership.h"
#include "framework/SecurityDescriptors.h"

namespace qx {

// SYSTEM and Administrators: all access; nobody else: nothing.
inline constexpr wchar_t kPrivateObjectSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// What came of creating a named object.
enum class ObjectName { Own, TakenUnnamedUsed, Failed };

// The named object when the name was free, else an unnamed one. create is
// called with the security attributes and the name, or null for no name.
template <typename Create>
UniqueHandle CreateUnsquatted(const wchar_t* name, Create create, ObjectName& outcome) {
    UniqueLocal descriptor = DescriptorFromSddl(kPrivateObjectSddl);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    UniqueHandle object(create(descriptor ? &attributes : nullptr, name));
    // Taken by someone else, whether we were let in (it exists) or not
    // (access denied): never use what another program made.
    if (object && GetLastError() != ERROR_ALREADY_EXISTS) {
        outcome = ObjectName::Own;
        return object;
    }
    object.reset(create(nullptr, nullptr));
    outcome = object ? ObjectName::TakenUnnamedUsed : ObjectName::Failed;
    return object;
}

// An auto-reset event, initially not signalled.
inline UniqueHandle CreateUnsquattedEvent(const wchar_t* name, ObjectName& outcome) {
    return CreateUnsquatted(
        name, [](SECURITY_ATTRIBUTES* sa, const wchar_t* n) { return CreateEventW(sa, FALSE, FALSE, n); }, outcome);
}

// A mutex owned by the calling thread from the start.
inline UniqueHandle CreateUnsquattedMutex(const wchar_t* name, ObjectName& outcome) {
    return CreateUnsquatted(
        name, [](SECURITY_ATTRIBUTES* sa, const wchar_t* n) { return CreateMutexW(sa, TRUE, n); }, outcome);
}

// What came of taking a machine-wide name that marks an installation.
enum class MachineName {
    kOwn,        // made here, owned by the calling thread
    kInUse,      // made by another program of Administrators or SYSTEM: another launcher
    kSquatted,   // made by a program of anyone else (or shut to us): not ours to wait for
    kFailed,
};

// A mutex under a Global\ name, owned by the calling thread from the start,
// with owner Administrators and a descriptor that lets only SYSTEM and
// Administrators open it. Whoever made the name first keeps it: one of the
// administrators' (another launcher, in any session) holds this launcher
// back; one that a less-privileged program made first is left alone, so it
// can neither hold the installation back nor be taken for a launcher.
// The handle is that of the name's mutex for kOwn and kInUse, else none.
UniqueHandle CreateMachineWideMutex(const wchar_t* name, MachineName& outcome);

}  // namespace qx
