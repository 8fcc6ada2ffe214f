#pragma once
// Where things are: the build folder's parts, found from the running
// program's own path, and the folders the product uses in the prefix.
#include <windows.h>

#include <string>

namespace qxtest {

// Every folder returned here ends in a backslash.
std::wstring ModuleFolder(HMODULE module);   // nullptr: the running program's
std::wstring ProgramFolder();
std::wstring BuildDir();      // <build>\ : the test programs lie in <build>\tests\ .
std::wstring ProductDir();    // <build>\product\ , or the folder QX_SHIPPED_DIR names (Windows form).
std::wstring DoublesDir();    // <build>\tests\doubles\ .
// The launcher with its signature removed: it checks nothing, so it runs
// with the doubles and test packages (made by tests/trust/make-variants.sh).
std::wstring UnsignedLauncher();
std::wstring FixturesDir();   // <build>\tests\fixtures\ (test packages)

// A folder the shell knows (CSIDL_*), without a trailing backslash; empty
// when the shell cannot tell.
std::wstring ShellFolder(int csidl);
std::wstring CommonAppData();   // the machine's common application-data folder
// The product's machine-wide cache folder:
// <common application data>\Selkirk-Vane\QX Prism P4000 Series\ .
std::wstring CacheFolder();
// The launcher's log folder: <temp>\{product}\ .
std::wstring LogFolder();

}  // namespace qxtest
