#include "app/SetupApp.h"

#include <commctrl.h>

#include <string>

#include "app/InstallGuard.h"
#include "app/PadStart.h"
#include "app/PendingReboot.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"
#include "res/Switches.h"
#include "app/UserNotice.h"
#include "diag/ErrorReporting.h"
#include "diag/LogSetup.h"
#include "diag/Logger.h"
#include "framework/NativeMachine.h"
#include "framework/ResourceText.h"
#include "framework/SessionVisibility.h"
#include "app/RestartChoice.h"
#include "ui/FirstTickPreparation.h"
#include "ui/SetupDlg.h"
#include "worker/RunOnce.h"

CSetupApp::CSetupApp() = default;

CSetupApp::~CSetupApp() = default;

int CSetupApp::ExitInstance() {
    // Not while the checks or the installer's binding are under way.
    WaitForFirstTickPreparation(10000);
    return static_cast<int>(RefusalCode() != S_OK ? RefusalCode() : m_dwExitCode);
}

BOOL CSetupApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    const std::wstring tail = m_lpCmdLine ? m_lpCmdLine : L"";
    const Switches switches = ReadSwitches(tail.c_str());
    // Where nobody can see a window, nobody can answer one: such a run is
    // a quiet one, the installer's own window included.
    m_bUnseen = !qx::PersonCanSeeWindows();
    m_bQuiet = switches.quiet || m_bUnseen;
    m_bPassive = switches.passive && !m_bQuiet;
    m_bNoPrompts = m_bQuiet || m_bPassive;
    m_sModuleArguments = tail;
    if (m_bUnseen && !switches.quiet)
        m_sModuleArguments += m_sModuleArguments.empty() ? kSwitchQuiet : std::wstring(L" ") + kSwitchQuiet;
    m_bNoRestart = switches.noRestart;
    m_bUninstall = switches.uninstall;
    // The checks of the product's files, the installer's binding and the
    // package's read take longer than the setup window takes to appear:
    // they start now, where nothing waits for them. A removal reads no
    // package (an open package beside the installer's removal would fail it).
    PrepareFirstTickInBackground(!m_bUninstall);
    // Runs before the log exists, so its own lines leave no record.
    if (HasCallerSwitch(tail.c_str(), kSwitchRunOnce)) RemoveRunOnceEntry();

    // "QXVSetupRES64.dll" from the launcher's folder by its full path, as an
    // image resource: it holds strings only, so none of its code runs and no
    // search order can put another file of that name in its place; it is
    // therefore not checked against the program's signature. Null when it
    // is missing. Kept to the end of the process on purpose (strings of it
    // are read until the last report), so not put in an owner.
    m_hResModule = qx::LoadResourcesBeside(nullptr, kResourceModuleFile);
    SetReportingContext(m_hResModule, m_bNoPrompts);

    for (wchar_t& c : m_szLogFile) c = L'\0';
    const std::wstring logRefused = InitializeLog(m_szLogFile, switches.logFile.c_str());
    LogTrace(L"Inside QXVSetup.exe");
    if (m_bUnseen) LogTrace(L"No one can see this session: running quiet");

    // Nothing is installed for a command line that is not understood, nor
    // with a log that cannot be written where it was asked for.
    if (!logRefused.empty()) {
        LogErrorText((L"Log file not used: " + switches.logFile + L": " + logRefused).c_str());
        m_dwExitCode = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    m_sRequestedLog = switches.logFile.empty() ? L"" : m_szLogFile;
    if (!switches.invalid.empty()) {
        LogErrorText((L"Switch not understood: " + switches.invalid).c_str());
        if (!m_bNoPrompts) ShowHelp(m_hResModule);
        m_dwExitCode = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (switches.help) {
        if (!m_bNoPrompts) ShowHelp(m_hResModule);
        m_dwExitCode = ERROR_SUCCESS;
        return FALSE;
    }

    // An x64 printer driver cannot load into the print spooler of an ARM64
    // computer: nothing is installed there. A removal (of what an earlier
    // release installed) still runs.
    if (!m_bUninstall && qx::ComputerIsArm64()) {
        TellUser(ProductText(m_hResModule, kIdsNotForThisProcessor),
                 ProductTextForLog(m_hResModule, kIdsNotForThisProcessor));
        m_dwExitCode = ERROR_INSTALL_PLATFORM_UNSUPPORTED;
        return FALSE;
    }

    if (IsRebootPending()) {
        const std::wstring text = FormatPendingRebootText(m_hResModule);
        // A refused string module has been reported in the text's place.
        if (RefusalCode() == S_OK) TellUser(text, PendingRebootTextForLog(m_hResModule));
        m_dwExitCode = kExitRebootPending;
        return FALSE;
    }

    if (!HasCallerSwitch(tail.c_str(), kSwitchCallerSetup)) {
        LogTrace(L"Caller is not setup");
        if (!HasCallerSwitch(tail.c_str(), kSwitchCallerCoInstaller)) {
            LogTrace(L"Caller is not coInstaller either so lets call the Pad (setup.exe)");
            // A Pad that is not the product's own is not started.
            return StartPad();
        }
    }

    InstallAnnouncement announcement;
    if (!CheckInstallInProgress(announcement)) {
        m_dwExitCode = ERROR_INSTALL_ALREADY_RUNNING;
        return FALSE;
    }

    // Ownership belongs to this thread and goes when the setup window has
    // closed; the handles stay open until the process ends on purpose, so
    // later launchers still refuse until then.
    qx::MutexGuard announcedInSession(announcement.session);
    qx::MutexGuard announcedOnMachine(announcement.machine);
    m_dwExitCode = ERROR_INSTALL_FAILURE;   // until the package or the module says otherwise
    LogTrace(L"Showing Hourglass");
    {
        CSetupDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }
    // The hourglass is gone: only now is a person asked about a restart.
    // One the launcher started is said as the installer says it, so a
    // deployment tool does not restart a machine already going down; one
    // left to the person or the caller stays 3010 (3011).
    if (m_bRestartDue && RestartWhenAllowed()) {
        m_dwExitCode = ERROR_SUCCESS_REBOOT_INITIATED;
        LogTrace(L"Restart started: exit code 1641");
    }
    LogTrace(L"Exiting QXVSetup.exe");
    return FALSE;
}
