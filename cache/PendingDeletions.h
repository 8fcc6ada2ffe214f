#pragma once
// The deletions the system makes at the next restart: the Session Manager's
// PendingFileRenameOperations, pairs of a source and a destination (empty for
// a deletion), as MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) writes
// them. The cache's files still in use when it is emptied go that way; a run
// that fills the cache again must take them back out, or the restart would
// delete what its resume entry starts.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

inline constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

// operations (the value's text, NULs included, read no further than its
// size) without each pair whose destination is empty and whose source is
// folder or lies inside it: "\??\", "\\?\" and plain forms alike, ignoring
// case. Everything else stays as it was, in order, to the character: other
// pairs, renames, and a last source that has no destination. removed (when
// given) receives the sources taken out, as written. Empty when nothing but
// the list's end is left.
std::wstring WithoutDeletionsUnder(std::wstring_view operations, const std::wstring& folder,
                                   std::vector<std::wstring>* removed = nullptr);

// Takes the pending deletions of folder and of everything inside it out of
// the value, which goes when nothing else is left in it: each one taken out
// has a TRACE record, a failure to write the value an ERROR record.
void CancelDeletionsUnder(const wchar_t* folder);
