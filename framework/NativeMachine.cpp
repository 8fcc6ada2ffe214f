#include "framework/NativeMachine.h"

#include <cwchar>

#include "framework/ReleasePins.h"
#include "framework/SystemLibrary.h"

namespace qx {

USHORT NativeMachine(MachineQuery query) {
    USHORT process = IMAGE_FILE_MACHINE_UNKNOWN, native = IMAGE_FILE_MACHINE_UNKNOWN;
    if (!query || !query(GetCurrentProcess(), &process, &native)) return IMAGE_FILE_MACHINE_UNKNOWN;
    return native;
}

namespace {

// The development build's stand-in; false when it names no machine.
bool MachineFromEnvironment(USHORT& machine) {
    wchar_t value[16] = {};
    const DWORD n = GetEnvironmentVariableW(kNativeMachineVariable, value, 16);
    if (n == 0 || n >= 16) return false;
    wchar_t* end = nullptr;
    const unsigned long parsed = std::wcstoul(value, &end, 16);
    if (end == value || *end != L'\0' || parsed > 0xFFFF) return false;
    machine = static_cast<USHORT>(parsed);
    return true;
}

}  // namespace

bool ComputerIsArm64() {
    USHORT machine = IMAGE_FILE_MACHINE_UNKNOWN;
    // kernel32 is in every process already: no DLL is loaded for this.
    if (ProgramCarriesSignature() || !MachineFromEnvironment(machine))
        machine = NativeMachine(BindProc<MachineQuery>(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2"));
    return machine == IMAGE_FILE_MACHINE_ARM64;
}

}  // namespace qx
