#pragma once
// The access rights the launcher gives the folders it creates, and the
// owners it trusts in folders it finds. A folder that a less-privileged
// program could write, rename or re-permission must never hold code that
// the elevated launcher starts, nor decide where it writes.
#include <windows.h>
#include <accctrl.h>

#include <string>

#include "framework/Ownership.h"
#include "framework/SecurityDescriptors.h"

namespace qx {

// Each level of the machine-wide cache: owner Administrators; full control
// for SYSTEM and Administrators, read and execute for Users, passed on to
// what lies below; nothing inherited from the parent. withOwner false
// leaves the owner to the system (for a token that may not name it).
UniqueLocal BuildCacheFolderDescriptor(bool withOwner = true);

// The log's folder: owner user; full control for SYSTEM, Administrators
// and user, passed on to what lies below; nothing inherited.
UniqueLocal BuildLogFolderDescriptor(const Sid& user);

// The owner of what the handle (opened with READ_CONTROL) refers to: a
// file or folder, or a kernel object of another type.
Sid OwnerOf(HANDLE entry, SE_OBJECT_TYPE type = SE_FILE_OBJECT);

bool IsAdministratorsOrSystem(const Sid& sid);
bool SameSid(const Sid& a, const Sid& b);

// Whether nobody but Administrators, SYSTEM and TrustedInstaller can change
// what the descriptor guards: its owner is one of them, and no allowing
// entry of its access list, inherited or not, gives anyone else a right to
// write to it, add or delete in it, or change its attributes, rights or
// owner, neither on the folder itself nor on what is made in it (an entry
// passed on to children). A missing access list lets everyone do anything.
// False with a short reason when someone else could.
bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR descriptor, std::wstring* why = nullptr);
// The same for the entry behind the handle (opened with READ_CONTROL).
bool OnlyAdministratorsCanChangeEntry(HANDLE entry, std::wstring* why = nullptr);

// Gives the entry (opened with WRITE_DAC | WRITE_OWNER) the descriptor's
// owner and its protected access list.
bool ApplyDescriptor(HANDLE entry, PSECURITY_DESCRIPTOR descriptor);

// Creates one folder with the descriptor; GetLastError as CreateDirectoryW.
bool CreateFolderWith(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor);

}  // namespace qx
