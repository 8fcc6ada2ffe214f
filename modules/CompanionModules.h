#pragma once
// The launcher's companion modules, taken from the launcher's own folder by
// their full paths, each only after its file passed the check against the
// program's own signature, and bound by the names their export tables show.
// None of them is a load-time import of the launcher: a module's code, its
// DllMain included, would run before any check could.
#include <windows.h>

#include <string>

#include "framework/Ownership.h"
#include "framework/SyncObjects.h"

// What came of taking one module.
struct ModuleLoad {
    std::wstring path;              // its full path; empty when the launcher's folder could not be had
    HRESULT refused = S_OK;         // the check's result, when it refused the file
    DWORD error = ERROR_SUCCESS;    // why it could not be opened, loaded or bound
    bool Ready() const { return refused == S_OK && error == ERROR_SUCCESS; }
};

// The full path of a file in the launcher's folder; empty when it cannot be had.
std::wstring LauncherFilePath(const wchar_t* name);

// The two modules kept loaded once taken: "QXVInstallActions64.dll" and
// "CustomActionData64.dll".
enum class Companion { kInstallActions, kCustomActionData };

// Checks the module's file ahead of its use and holds it until it is loaded
// (run while the setup window waits for its first tick).
void CheckCompanionAhead(Companion which);
// The check's verdict on the module's file, waiting for a check ahead that
// still runs; loads nothing. Once the module has been taken: how that went.
ModuleLoad CompanionVerdict(Companion which);

// DoInstallActions, loaded and bound once per process; null with the reason
// in load when the module cannot be used.
using DoInstallActionsFn = int (*)(const wchar_t* commandLine, UiLock* uiLock, const wchar_t* logFile, int reserved);
DoInstallActionsFn BindDoInstallActions(ModuleLoad& load);

// Utilities::LoadStringMV of "CustomActionData64.dll": string id of
// resModule into text (empty when there is none), the count of characters
// returned. load, when given, says why the module could not be used.
unsigned LoadModuleString(std::wstring& text, HMODULE resModule, unsigned id, ModuleLoad* load = nullptr);

// "QXPRP4005P64.dll", checked and loaded for one report; the module is null
// with the reason in load when it cannot be used.
qx::UniqueModule LoadErrorModule(ModuleLoad& load);
