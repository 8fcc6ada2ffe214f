#include <gtest/gtest.h>

#include <windows.h>

#include "framework/NativeMachine.h"

namespace {

BOOL WINAPI OnArm64(HANDLE, USHORT* process, USHORT* native) {
    *process = IMAGE_FILE_MACHINE_UNKNOWN;   // an x64 program under emulation is no WOW64 process
    *native = IMAGE_FILE_MACHINE_ARM64;
    return TRUE;
}
BOOL WINAPI OnX64(HANDLE, USHORT* process, USHORT* native) {
    *process = IMAGE_FILE_MACHINE_UNKNOWN;
    *native = IMAGE_FILE_MACHINE_AMD64;
    return TRUE;
}
BOOL WINAPI Failing(HANDLE, USHORT* process, USHORT* native) {
    *process = *native = IMAGE_FILE_MACHINE_ARM64;   // what a failed call leaves is not read
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST(NativeMachine, TheQuerysAnswerAndUnknownWithoutOne) {
    const struct {
        const char* name;
        qx::MachineQuery query;
        USHORT machine;
    } cases[] = {
        {"ARM64", OnArm64, IMAGE_FILE_MACHINE_ARM64},
        {"x64", OnX64, IMAGE_FILE_MACHINE_AMD64},
        {"the query fails", Failing, IMAGE_FILE_MACHINE_UNKNOWN},
        {"no query (before Windows 10 1511)", nullptr, IMAGE_FILE_MACHINE_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(qx::NativeMachine(c.query), c.machine);
    }
}

TEST(NativeMachine, ADevelopmentBuildReadsTheSettingAndOtherwiseAsksTheSystem) {
    // This test program carries no signature, as a development build.
    const struct {
        const wchar_t* setting;   // null: not set
        bool arm64;
    } cases[] = {
        {L"AA64", true}, {L"aa64", true}, {L"8664", false}, {L"14C", false},
        // Not a machine: the system's answer (Wine runs on x64 only).
        {nullptr, false}, {L"", false}, {L"ARM64", false}, {L"AA64 ", false}, {L"1AA64", false},
        {L"0123456789ABCDEF0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting ? testing::PrintToString(std::wstring(c.setting)) : "not set");
        SetEnvironmentVariableW(qx::kNativeMachineVariable, c.setting);
        EXPECT_EQ(qx::ComputerIsArm64(), c.arm64);
    }
    SetEnvironmentVariableW(qx::kNativeMachineVariable, nullptr);
    const auto query = reinterpret_cast<qx::MachineQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    ASSERT_NE(query, nullptr) << "the system's query is bound by name";
    EXPECT_EQ(qx::NativeMachine(query), IMAGE_FILE_MACHINE_AMD64);
}

}  // namespace
