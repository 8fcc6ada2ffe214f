#pragma once
// The first act of each of the product's programs: DLLs that anything in
// the process loads by bare name (system DLLs do so for their helpers) come
// from the system folder only, never from the program's own folder, which
// may be a download folder that any program of the user can write.
#include <windows.h>

namespace qx {

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32). Where that call
// does not exist (Windows 7 without its DLL-search update), the current
// folder is taken out of the search and the helpers below are loaded by
// their full path from the system folder, so a later load by bare name
// finds them loaded. True when the search is limited by the call itself.
bool LimitDllSearchToSystemFolder();

// The helpers system DLLs load by bare name that Windows does not always
// take from its system folder, and those this product binds at run time.
extern const wchar_t* const kSystemHelperDlls[];
extern const size_t kSystemHelperDllCount;
// Loads each of them by full path from the system folder (kept to the end
// of the process); a helper the system does not have is left out.
void PreloadSystemHelpers();

}  // namespace qx
