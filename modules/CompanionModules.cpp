#include "modules/CompanionModules.h"

#include "framework/BoundedText.h"
#include "framework/FileSignature.h"
#include "framework/ModuleFolder.h"
#include "framework/SystemLibrary.h"
#include "modules/ErrorInterface.h"
#include "res/ProductIdentity.h"

namespace {

// The names the export tables show: DoInstallActions has C linkage, the
// Utilities members are C++ names as the product's compiler spells them.
constexpr char kDoInstallActionsExport[] = "DoInstallActions";
constexpr char kUtilitiesInstanceExport[] = "_ZN9Utilities8InstanceEv";
constexpr char kUtilitiesLoadStringExport[] =
    "_ZN9Utilities12LoadStringMVERNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEEP11HINSTANCE__j";

// A member function called through its export: the object comes first, as
// the x64 calling convention passes it.
using InstanceFn = void* (*)();
using LoadStringFn = unsigned (*)(void* self, std::wstring& text, HMODULE module, unsigned id);

// A module loaded once per process and kept to its end on purpose: the bound
// calls point into it.
struct Slot {
    Slot(const wchar_t* name) : file(name) {}
    const wchar_t* file;
    qx::CheckAhead ahead;
    SRWLOCK lock = SRWLOCK_INIT;
    bool taken = false;
    ModuleLoad load;
    HMODULE module = nullptr;
};

Slot g_slots[] = {{kInstallActionsFile}, {kCustomActionDataFile}};

Slot& SlotOf(Companion which) { return g_slots[which == Companion::kInstallActions ? 0 : 1]; }

// Checks (or takes the check made ahead) and loads by full path; the file
// stays held until the loader has it mapped.
HMODULE LoadChecked(qx::CheckedFile checked, ModuleLoad& load) {
    load.path = checked.AskedPath();
    if (checked.Absent()) {
        load.error = qx::LoadFailure(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!checked.Passed()) {
        load.refused = checked.Refusal();
        return nullptr;
    }
    // By the path the checked file resolves to, its folders held: the
    // loader maps exactly the file that was checked.
    HMODULE module = qx::LoadModuleByFullPath(checked.UsablePath());
    if (!module) load.error = qx::LoadFailure(GetLastError());
    return module;
}

HMODULE TakeCompanion(Companion which, ModuleLoad& load) {
    Slot& slot = SlotOf(which);
    AcquireSRWLockExclusive(&slot.lock);
    if (!slot.taken) {
        slot.taken = true;
        slot.load.path = LauncherFilePath(slot.file);
        if (slot.load.path.empty())
            slot.load.error = ERROR_BAD_PATHNAME;
        else
            slot.module = LoadChecked(slot.ahead.Take(slot.load.path.c_str()), slot.load);
    }
    load = slot.load;
    HMODULE module = slot.module;
    ReleaseSRWLockExclusive(&slot.lock);
    return module;
}

}  // namespace

std::wstring LauncherFilePath(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    if (!qx::GetLauncherFolder(path, MAX_PATH) || !qx::BoundedAppend(path, MAX_PATH, name)) return {};
    return path;
}

void CheckCompanionAhead(Companion which) {
    Slot& slot = SlotOf(which);
    const std::wstring path = LauncherFilePath(slot.file);
    if (!path.empty()) slot.ahead.Run(path.c_str());
}

ModuleLoad CompanionVerdict(Companion which) {
    Slot& slot = SlotOf(which);
    AcquireSRWLockShared(&slot.lock);
    const bool taken = slot.taken;
    ModuleLoad load = slot.load;
    ReleaseSRWLockShared(&slot.lock);
    if (taken) return load;

    load.path = LauncherFilePath(slot.file);
    if (load.path.empty()) {
        load.error = ERROR_BAD_PATHNAME;
        return load;
    }
    const qx::CheckVerdict verdict = slot.ahead.Verdict(load.path.c_str());
    if (verdict.absent)
        load.error = qx::LoadFailure(ERROR_FILE_NOT_FOUND);
    else
        load.refused = verdict.refusal;
    return load;
}

DoInstallActionsFn BindDoInstallActions(ModuleLoad& load) {
    HMODULE module = TakeCompanion(Companion::kInstallActions, load);
    const auto call = qx::BindProc<DoInstallActionsFn>(module, kDoInstallActionsExport);
    if (module && !call) load.error = ERROR_PROC_NOT_FOUND;
    return call;
}

unsigned LoadModuleString(std::wstring& text, HMODULE resModule, unsigned id, ModuleLoad* load) {
    text.clear();
    ModuleLoad taken;
    HMODULE module = TakeCompanion(Companion::kCustomActionData, taken);
    const auto instance = qx::BindProc<InstanceFn>(module, kUtilitiesInstanceExport);
    const auto loadString = qx::BindProc<LoadStringFn>(module, kUtilitiesLoadStringExport);
    if (module && (!instance || !loadString)) taken.error = ERROR_PROC_NOT_FOUND;
    if (load) *load = taken;
    if (!instance || !loadString) return 0;
    void* utilities = instance();
    return utilities ? loadString(utilities, text, resModule, id) : 0;
}

qx::UniqueModule LoadErrorModule(ModuleLoad& load) {
    load = ModuleLoad();
    const std::wstring path = LauncherFilePath(kErrorModuleFile);
    if (path.empty()) {
        load.error = ERROR_BAD_PATHNAME;
        return qx::UniqueModule();
    }
    return qx::UniqueModule(LoadChecked(qx::CheckedFile::Open(path.c_str()), load));
}
