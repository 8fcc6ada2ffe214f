// "Setup.exe": the product's outer setup program. Starts the launcher from
// its own folder as its caller, with its own arguments after "CALLER=SETUP",
// waits for it and ends with its exit code. When the launcher cannot be
// started at all it says so (not in a quiet run, nor where nobody can see
// the session, since nobody would click the box away) and ends with the error as its exit code. It runs with
// administrator rights, so a launcher that is not signed as the Pad is
// (checked when the Pad itself is signed) is never started. On an ARM64
// computer it installs nothing and ends with 1633.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "framework/BoundedText.h"
#include "framework/DllSearch.h"
#include "framework/FileSignature.h"
#include "framework/NativeMachine.h"
#include "framework/ReleasePins.h"
#include "framework/Ownership.h"
#include "framework/SystemMessage.h"
#include "framework/ResourceText.h"
#include "framework/SessionVisibility.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"
#include "res/Switches.h"

namespace {

bool g_quiet = false;

// The shell's old-style result of a failed start as an error code, for a
// shell that sets no last error.
DWORD ShellStartError(const SHELLEXECUTEINFOW& info) {
    const DWORD error = GetLastError();
    if (error != ERROR_SUCCESS) return error;
    switch (reinterpret_cast<INT_PTR>(info.hInstApp)) {
        case SE_ERR_FNF: return ERROR_FILE_NOT_FOUND;
        case SE_ERR_PNF: return ERROR_PATH_NOT_FOUND;
        case SE_ERR_ACCESSDENIED: return ERROR_ACCESS_DENIED;
        case SE_ERR_OOM: return ERROR_NOT_ENOUGH_MEMORY;
        default: return ERROR_INVALID_FUNCTION;
    }
}

DWORD ReportNotStarted(const wchar_t* launcher, DWORD error, bool refused = false) {
    if (g_quiet) return error;
    // Not even opened for the check: the system's reason says why.
    if (refused && qx::CouldNotBeChecked(static_cast<HRESULT>(error))) refused = false;
    // From the folder of this program, as data: it holds no code.
    const qx::UniqueModule texts(qx::LoadResourcesBeside(nullptr, kResourceModuleFile));
    wchar_t code[16] = {};
    qx::BoundedFormat(code, 16, refused ? L"0x%08X" : L"%u", static_cast<unsigned>(error));
    std::wstring reason = qx::SystemMessage(error);
    if (reason.empty()) reason = ProductText(texts.get(), kIdsErrorNumber, {code});
    std::wstring message;
    if (refused && static_cast<HRESULT>(error) == qx::kNotThisRelease) {
        const std::wstring version = qx::FileVersionOf(launcher);
        message = ProductText(texts.get(), kIdsFileOtherRelease,
                              {kProductVersion, launcher, version.empty() ? L"-" : version.c_str(), code});
    } else {
        message = ProductText(texts.get(), refused ? kIdsPadNotSigned : kIdsPadNotStarted, {launcher, reason.c_str()});
    }
    const std::wstring caption = ProductText(texts.get(), kIdsPadCaption);
    MessageBoxW(nullptr, message.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return error;
}

// An x64 printer driver cannot load into the print spooler of an ARM64
// computer: the person is told so, and nothing is installed.
DWORD ReportNotForThisProcessor() {
    const qx::UniqueModule texts(qx::LoadResourcesBeside(nullptr, kResourceModuleFile));
    MessageBoxW(nullptr, ProductText(texts.get(), kIdsNotForThisProcessor).c_str(),
                ProductText(texts.get(), kIdsPadCaption).c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return ERROR_INSTALL_PLATFORM_UNSUPPORTED;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    // Before anything can load a DLL by its bare name.
    qx::LimitDllSearchToSystemFolder();

    const std::wstring tail = arguments ? arguments : L"";
    // The launcher reads the same switches, in either form, from what is
    // passed on. Where nobody can see a box, nobody can click it away.
    const Switches switches = ReadSwitches(tail.c_str());
    g_quiet = switches.quiet || switches.passive || !qx::PersonCanSeeWindows();
    // Nothing to install on an ARM64 computer. A quiet or unseen run leaves
    // the refusal to the launcher, which says why in its log (the Pad keeps
    // none); a removal, the help and a switch not understood are the
    // launcher's to answer as anywhere.
    const bool installs = !switches.uninstall && !switches.help && switches.invalid.empty();
    if (installs && !g_quiet && qx::ComputerIsArm64()) return static_cast<int>(ReportNotForThisProcessor());
    const std::wstring parameters = tail.empty() ? std::wstring(kSwitchCallerSetup) : std::wstring(kSwitchCallerSetup) + L" " + tail;
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return static_cast<int>(ReportNotStarted(kLauncherFile64, ERROR_BAD_PATHNAME));
    wchar_t* name = path;
    for (wchar_t* p = path; *p; ++p)
        if (*p == L'\\') name = p + 1;
    *name = L'\0';
    if (!qx::BoundedAppend(path, MAX_PATH, kLauncherFile64))
        return static_cast<int>(ReportNotStarted(kLauncherFile64, ERROR_BAD_PATHNAME));

    // Held, shared for reading only, with every folder of its path, for as
    // long as the launcher runs: nothing can take its place, nor that of
    // the folder the launcher works from, before or after its start.
    const qx::CheckedFile launcher = qx::CheckedFile::Open(path);
    if (launcher.Absent()) return static_cast<int>(ReportNotStarted(path, ERROR_FILE_NOT_FOUND));
    if (!launcher.Passed()) return static_cast<int>(ReportNotStarted(path, static_cast<DWORD>(launcher.Refusal()), true));

    // The shell may hand the start to extensions that need COM.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    // Through the shell rather than CreateProcessW: a launcher that requires
    // administrator rights is then elevated (with the person's consent when
    // this program is not elevated itself) instead of refused with
    // ERROR_ELEVATION_REQUIRED. No shell message boxes: the failure is ours
    // to tell.
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    // The path the checked file resolves to, its folders held: no link on
    // the way can lead the start to another file.
    info.lpFile = launcher.UsablePath();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    SetLastError(ERROR_SUCCESS);
    const BOOL started = ShellExecuteExW(&info);
    const DWORD error = started ? ERROR_SUCCESS : ShellStartError(info);
    if (SUCCEEDED(com)) CoUninitialize();
    if (!started) return static_cast<int>(ReportNotStarted(path, error));

    // A start handed to another process leaves no handle to wait on.
    if (!info.hProcess) return ERROR_SUCCESS;
    const qx::UniqueHandle process(info.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}
