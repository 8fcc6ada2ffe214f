#pragma once
// The computer's own processor. The product's driver is an x64 one: on
// Windows on ARM an x64 program runs under emulation, but an x64 printer
// driver cannot load into the native print spooler.
#include <windows.h>

namespace qx {

// IsWow64Process2's shape. Bound by name from kernel32 at run time: it
// exists from Windows 10 1511 on, and x64 programs run on ARM64 only on
// later releases, so a system without it is not ARM64.
using MachineQuery = BOOL(WINAPI*)(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);

// The computer's processor as query reports it (IMAGE_FILE_MACHINE_*);
// IMAGE_FILE_MACHINE_UNKNOWN without a query or when it fails.
USHORT NativeMachine(MachineQuery query);

// Read by a program without a signature (a development build) in place of
// the system's answer: the machine in hex, e.g. "AA64". A signed program
// never reads it: the environment is the user's, and a setting of it must
// not keep the shipped program from working.
inline constexpr wchar_t kNativeMachineVariable[] = L"QX_TEST_NATIVE_MACHINE";

// Whether the computer's processor is ARM64.
bool ComputerIsArm64();

}  // namespace qx
