#pragma once
// What the scenario, stress and module tests use to run the real launcher
// in the Wine prefix and to look at what it left: fixture folders, the
// installed product, and (through the headers below) processes, windows,
// the log, files and the registry.
#include <windows.h>
#include <msi.h>

#include <string>

#include "tests/support/Desktop.h"
#include "tests/support/Files.h"
#include "tests/support/KnownState.h"
#include "tests/support/Log.h"
#include "tests/support/Paths.h"
#include "tests/support/Process.h"
#include "tests/support/Product.h"
#include "tests/support/Registry.h"
#include "tests/support/Text.h"

namespace qxtest {

// What goes into a fixture folder besides the launcher itself.
enum FolderContents : unsigned {
    kWithResourceModule = 1u << 0,
    kWithRecordingPad = 1u << 1,
    kWithRealModules = 1u << 2,         // the shipped install-actions and error modules
    kWithScriptedActions = 1u << 3,     // the install-actions double
    kWithRecordingReporter = 1u << 4,   // the error-reporting double
    kWithPackage = 1u << 5,             // the test package "QXPRP4005.msi"
    kStandard = kWithResourceModule | kWithRecordingPad | kWithRealModules,
    kInstallScenario = kWithResourceModule | kWithRecordingPad | kWithScriptedActions | kWithRecordingReporter |
                       kWithPackage,
};

// A fresh folder (removed first when it exists) holding the launcher and
// the modules it needs. Path ends in a backslash. With a double or the test
// package the launcher is a copy whose signature was removed (it checks
// nothing, as a development build); otherwise the signed one, which takes
// only its own release's files.
std::wstring MakeLauncherFolder(const std::wstring& path, unsigned contents = kStandard);
// A fresh folder holding what ships: the launcher, its modules and the
// product's package. Path ends in a backslash.
std::wstring MakeShippedFolder(const std::wstring& path);
// The same with the launcher and the Pad of a development build (their
// signatures removed, as a scenario with doubles runs them), so that they
// read what a development build reads in place of the system's answers
// (kNativeMachineVariable); the modules and the package stay the shipped ones.
std::wstring MakeDevelopmentFolder(const std::wstring& path);
// How to start program (a development build) with args as if on an ARM64
// computer.
StartOptions OnArm64(const std::wstring& program, const std::wstring& args);
// The shipped Pad into a folder made above: signed beside the signed
// launcher, without its signature beside the unsigned copy (the signed Pad
// starts only the launcher of its release).
bool CopyPadInto(const std::wstring& folder);
// The tail the install-actions module is given: the package the launcher
// found in packageFolder handed on first, then the launcher's own tail.
std::wstring ModuleTail(const std::wstring& packageFolder, const std::wstring& tail);
// Writes the install-actions double's script beside it (key=value lines).
void WriteActionsScript(const std::wstring& folder, const std::string& script);

// Removes the cache with its manufacturer level: a level an earlier case
// left is not one the next launcher made, so it would not be trusted.
void RemoveCache();

// The product as Windows Installer sees it, and removing it.
INSTALLSTATE ProductState();
bool ProductInstalled();
void UninstallProduct();

}  // namespace qxtest
