#pragma once
// The few security building blocks the launcher's folders and named objects
// share: the process's user, a SID as text, a descriptor from its text form.
#include <windows.h>

#include <string>
#include <vector>

#include "framework/Ownership.h"

namespace qx {

using Sid = std::vector<BYTE>;

// The user this process runs as; empty when it cannot be had.
Sid CurrentUserSid();

// "S-1-5-…", or empty.
std::wstring SidText(const Sid& sid);

// A self-relative descriptor from its text form, freed with LocalFree; null
// on failure.
UniqueLocal DescriptorFromSddl(const std::wstring& sddl);

}  // namespace qx
