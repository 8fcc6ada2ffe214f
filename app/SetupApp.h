#pragma once
#include <windows.h>

#include <string>

#include "diag/ErrorReporting.h"
#include "framework/WinApp.h"

// Exit code of a start refused because a restart is pending:
// ERROR_FAIL_NOACTION_REBOOT, "No action was taken as a system reboot is
// required." (not in every SDK's headers).
constexpr DWORD kExitRebootPending = 350;

class CSetupApp : public CWinApp {
public:
    CSetupApp();
    ~CSetupApp() override;

    // The start-up sequence. True only after forwarding to the Pad.
    BOOL InitInstance() override;
    // The process's exit code: what happened, for whoever started it.
    // A refused file of the product ends the run with the check's result.
    int ExitInstance() override;

    wchar_t m_szLogFile[MAX_PATH] = {};   // the installation log's full path
    HMODULE m_hResModule = nullptr;       // "QXVSetupRES64.dll", possibly null
    bool m_bQuiet = false;                // "QUIET=YES", /quiet, or nobody can see: no window at all
    bool m_bUnseen = false;               // nobody can see this session's windows (session 0, a hidden station)
    bool m_bPassive = false;              // "PASSIVE=YES", /passive: progress shown, nothing to click
    bool m_bNoPrompts = false;            // quiet or passive: no box, no disc prompt, no question
    bool m_bNoRestart = false;            // "NORESTART=YES", /norestart: the caller restarts
    bool m_bUninstall = false;            // "UNINSTALL=YES", /uninstall: the product is removed
    std::wstring m_sRequestedLog;         // "/log <file>": where the caller asked for the log
    // The argument tail the install-actions module gets: the launcher's own,
    // with the quiet switch added where nobody can see the installer's window.
    std::wstring m_sModuleArguments;
    // Set by the worker: the installation needs a restart to finish and the
    // caller did not keep it for itself. Asked for once the setup window is gone.
    bool m_bRestartDue = false;
    // 0 for a start forwarded to the Pad or the help; 87 for a switch not
    // understood or a log file that cannot be used; 350, 1618 or 1633 for a refusal; the
    // code reported when the package cannot be read; otherwise the
    // install-actions module's result, set by the worker. An installation
    // that never reached the module ends with 1603.
    DWORD m_dwExitCode = ERROR_SUCCESS;
};

extern CSetupApp theApp;
