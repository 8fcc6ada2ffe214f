#include "ui/SetupDlg.h"

#include <setupapi.h>
#include <shlwapi.h>

#include <string>

#include "res/ProductIdentity.h"
#include "res/Switches.h"
#include "app/SetupApp.h"
#include "cache/SourcePaths.h"
#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/MessageWait.h"
#include "framework/ObjectSecurity.h"
#include "modules/CompanionModules.h"
#include "ui/DiscPrompt.h"
#include "ui/FirstTickPreparation.h"
#include "ui/MsiBinding.h"
#include "ui/ProductInfo.h"
#include "ui/WaitUIThread.h"
#include "worker/MSIThread.h"

namespace {
constexpr DWORD kPackagePathCapacity = 2 * MAX_PATH;
constexpr DWORD kDiscPromptStyle = IDF_NOSKIP | IDF_NODETAILS | IDF_CHECKFIRST;   // 0x106
}  // namespace

CSetupDlg::CSetupDlg(CWnd* parent) : CDialog(kSetupDialogTemplate, parent) {
    m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIcon));
}

CSetupDlg::~CSetupDlg() {
    // Whatever ended the dialog, the worker and the install-actions module
    // may still use the lock record: free nothing under them.
    if (m_hWorkerThread) WaitForSingleObject(m_hWorkerThread.get(), INFINITE);
    // A handle the worker offered that no tick took any more.
    qx::UniqueHandle offered(InterlockedExchangePointer(&m_hOfferedMutex, nullptr));
    m_hMSIThreadMutex.reset();
    // The lock calls into the event when it unlocks: it goes first.
    if (m_pUILock) {
        m_pUILock->Unlock();
        delete m_pUILock;
    }
    delete m_pUIEvent;
}

void CSetupDlg::OfferWorkerMutex(qx::UniqueHandle mutex) {
    qx::UniqueHandle previous(InterlockedExchangePointer(&m_hOfferedMutex, mutex.release()));
}

DWORD CSetupDlg::GetProductInfo(const wchar_t* packagePath) {
    // Held, shared for reading only, while it is read; a package that is
    // not the product's own is not read at all.
    PreparedPackage package = TakePreparedPackage(packagePath);
    if (package.file.Absent()) {
        // The records of a read that found no file.
        LogProductInfoRead(ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }
    if (!package.file.Passed()) {
        ReportRefusal(packagePath, package.file.Refusal());
        return static_cast<DWORD>(package.file.Refusal());
    }
    // Held on until the installation has ended: the install-actions module
    // then takes this launcher's word for the file instead of hashing it again.
    if (!package.read) {
        const DWORD result =
            ReadProductInfo(package.file.UsablePath(), m_szProductName, m_szProductCode, m_szManufacturer);
        m_heldPackage = std::move(package.file);
        return result;
    }
    // Read ahead from this very file: the same fields and the same records
    // as a read made now.
    qx::BoundedCopy(m_szProductName, kProductNameCapacity, package.productName);
    qx::BoundedCopy(m_szProductCode, kProductCodeCapacity, package.productCode);
    qx::BoundedCopy(m_szManufacturer, kManufacturerCapacity, package.manufacturer);
    LogProductInfoRead(package.result);
    m_heldPackage = std::move(package.file);
    return package.result;
}

bool CSetupDlg::CompanionsRefused() {
    for (const Companion which : {Companion::kInstallActions, Companion::kCustomActionData}) {
        const ModuleLoad verdict = CompanionVerdict(which);
        if (verdict.refused != S_OK) ReportRefusal(verdict.path, verdict.refused);
    }
    return RefusalCode() != S_OK;
}

bool CSetupDlg::EndWithoutInstalling() {
    ShowWindow(m_hWnd, SW_HIDE);
    KillTimer(m_hWnd, kSetupTimerId);
    EndDialog(IDCANCEL);
    return false;
}

BOOL CSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // A quiet run shows nothing: no hourglass, and the dialog itself is
    // kept from ever being shown (see WM_WINDOWPOSCHANGING).
    if (!theApp.m_bQuiet) {
        LogTrace(L"Starting Thread for hourglass AVI");
        m_pWaitUIThread = AfxBeginThread(WaitUIThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
        if (m_pWaitUIThread) {
            m_pWaitUIThread->m_bAutoDelete = TRUE;
            // Our own handle and its id: the thread object deletes itself.
            DuplicateHandle(GetCurrentProcess(), m_pWaitUIThread->m_hThread.get(), GetCurrentProcess(),
                            m_hWaitUIThread.put(), SYNCHRONIZE, FALSE, 0);
            m_dwWaitUIThreadId = m_pWaitUIThread->m_nThreadID;
            m_pWaitUIThread->ResumeThread();
        }
    }
    SetTimer(m_hWnd, kSetupTimerId, kSetupTimerMs, nullptr);
    return TRUE;
}

bool CSetupDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_PAINT:
            if (!IsIconic(m_hWnd)) return false;
            OnPaint();
            result = 0;
            return true;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(m_hIcon);
            return true;
        case WM_WINDOWPOSCHANGING:
            // The dialog box shows its window on its own; a quiet run takes
            // the showing out of every change of position.
            if (theApp.m_bQuiet) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
            return false;
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return false;   // then the dialog's default processing
        case WM_DESTROY:
            StopHourglass();
            return false;
        default:
            return CDialog::OnMessage(message, wParam, lParam, result);
    }
}

void CSetupDlg::StopHourglass() {
    if (!m_hWaitUIThread) return;
    // Until the thread has a message queue the stop is posted again (unless
    // it has ended meanwhile). Its control is a child of this window, and
    // making or destroying it asks this thread: both waits let messages
    // sent to this thread through.
    const HANDLE thread = m_hWaitUIThread.get();
    while (!PostThreadMessageW(m_dwWaitUIThreadId, kWaitUIStop, 0, 0) &&
           MsgWaitForMultipleObjects(1, &thread, FALSE, 10, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
        MSG sent;
        PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    qx::WaitPumpingMessages(1, &thread);
    m_hWaitUIThread.reset();
}

void CSetupDlg::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
}

void CSetupDlg::OnCancel() {
    if (WorkerRunning()) return;
    CDialog::OnCancel();
}

void CSetupDlg::EndAfterWorker(UINT_PTR id) {
    KillTimer(m_hWnd, id);
    if (m_pUILock && !m_pUILock->m_bAcquired) {
        LogTrace(L"Lock removed from UI MUTEX");
        LogTrace(L"Hiding Hourglass AVI Window");
        ShowWindow(m_hWnd, SW_HIDE);
        EndDialog(IDOK);
    } else {
        ShowWindow(m_hWnd, SW_HIDE);
        EndDialog(IDCANCEL);
    }
}

bool CSetupDlg::WorkerRunning() const {
    return m_hWorkerThread && WaitForSingleObject(m_hWorkerThread.get(), 0) == WAIT_TIMEOUT;
}

void CSetupDlg::OnTimer(UINT_PTR id) {
    if (m_bFirstTick) {
        m_bFirstTick = FALSE;
        if (!FirstTick()) return;   // the first tick has ended the dialog
    }
    PollWorker(id);
}

bool CSetupDlg::FirstTick() {
    wchar_t packagePath[kPackagePathCapacity] = {};
    // Nothing of a run that is refused a module goes on: no disc prompt,
    // no cache, no installation.
    if (CompanionsRefused()) return EndWithoutInstalling();
    try {
        if (theApp.m_bUninstall) {
            // The product is removed by its code: no package is looked for,
            // and no disc is asked for.
            LogTrace(L"Uninstall: the product's own identity stands for the package");
            qx::BoundedCopy(m_szProductName, kProductNameCapacity, kProductName);
            qx::BoundedCopy(m_szProductCode, kProductCodeCapacity, kProductGuid);
            qx::BoundedCopy(m_szManufacturer, kManufacturerCapacity, kManufacturer);
        } else {
            wchar_t modulePath[MAX_PATH] = {};
            GetModuleFileNameW(theApp.m_hInstance, modulePath, MAX_PATH);
            wchar_t* filePart = nullptr;
            GetFullPathNameW(modulePath, MAX_PATH, packagePath, &filePart);
            if (filePart) *filePart = L'\0';
            PathAppendW(packagePath, kPackageFile);

            LogTrace(L"Getting Product Info");
            DWORD result = GetProductInfo(packagePath);
            const bool resumed = HasCallerSwitch(theApp.m_lpCmdLine, kSwitchAfterReboot);
            if (result == ERROR_FILE_NOT_FOUND && (theApp.m_bNoPrompts || resumed)) {
                // Nobody to answer a prompt, or a resume: the recorded source
                // folder is tried without a window first.
                LogTrace(theApp.m_bNoPrompts ? L"No disc prompt in a quiet run; looking in the recorded source folder"
                                             : L"After the restart: looking in the recorded source folder");
                const std::wstring recorded = GetCachedSourcePath();
                if (!recorded.empty() && qx::BoundedCopy(packagePath, kPackagePathCapacity, recorded.c_str()) &&
                    PathAppendW(packagePath, kPackageFile))
                    result = GetProductInfo(packagePath);
                // A deployment tool deletes the folder it ran the setup from:
                // with the product installed, nothing is left to install, and
                // no disc is needed for it.
                if (result == ERROR_FILE_NOT_FOUND && resumed &&
                    ReadInstalledProductInfo(m_szProductName, m_szProductCode, m_szManufacturer)) {
                    LogTrace(L"After the restart: the source is gone and the product is installed; no disc is asked for");
                    result = ERROR_SUCCESS;
                }
            }
            if (result == ERROR_FILE_NOT_FOUND && !theApp.m_bNoPrompts) {
                LogTrace(L"PROMPT for user to insert the Disk (In SetupDlg - On Timer - First Time) . Looking For\" "
                         L"QXPRP4005.msi \"");
                const std::wstring recorded = GetCachedSourcePath();
                DWORD required = kPackagePathCapacity;
                const UINT answer = PromptForDisc(m_hWnd, nullptr, kProductName, recorded.c_str(), kPackageFile,
                                                  nullptr, kDiscPromptStyle, packagePath, kPackagePathCapacity, &required);
                if (answer == DPROMPT_CANCEL) {
                    // The person's choice, not a failure: nothing installed,
                    // nothing reported, and the cancel is the exit code.
                    LogTrace(L"Disc prompt cancelled");
                    theApp.m_dwExitCode = ERROR_INSTALL_USEREXIT;
                    return EndWithoutInstalling();
                }
                packagePath[kPackagePathCapacity - 1] = L'\0';
                // The prompt's answer is not looked at: reading the package is the test.
                PathAppendW(packagePath, kPackageFile);
                result = GetProductInfo(packagePath);
            }
            // A refused package has been reported in the launcher's own box.
            if (RefusalCode() != S_OK) return EndWithoutInstalling();
            if (result != ERROR_SUCCESS) {
                LogSystemError(result);
                throw InstallErrorException(static_cast<int32_t>(result));
            }
        }

        LogTrace(L"Creating UI MUTEX");
        qx::ObjectName uiEventName = qx::ObjectName::Own;
        qx::UniqueHandle uiEvent = qx::CreateUnsquattedEvent(kUiEventName, uiEventName);
        // Another program made the name first: it could take the signal the
        // worker waits for. The install-actions module gets the lock record,
        // not the name, so an unnamed event serves as well.
        if (uiEventName != qx::ObjectName::Own)
            LogTrace(L"UI event name already in use by another program; using an unnamed event");
        m_pUIEvent = new CEvent(uiEvent.release());
        m_pUIEvent->SetEvent();
        m_pUILock = new UiLock(m_pUIEvent);

        LogTrace(L"Installed Product");
        LogTrace(L"Starting MSIThreadProc");
        m_pMSIThread = AfxBeginThread(MSIThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
        if (!m_pMSIThread) {
            // Without a worker its mutex never appears: end now rather than wait.
            LogTrace(L"msiexec process not found");
            KillTimer(m_hWnd, kSetupTimerId);
            EndDialog(IDCANCEL);
            return false;
        }
        m_pMSIThread->m_bAutoDelete = TRUE;
        DuplicateHandle(GetCurrentProcess(), m_pMSIThread->m_hThread.get(), GetCurrentProcess(), m_hWorkerThread.put(),
                        SYNCHRONIZE, FALSE, 0);
        LogTrace(L"Resume MSIThreadProc");
        m_pMSIThread->ResumeThread();
        LogTrace(L"Exiting Product");
        return true;
    } catch (InstallErrorException& error) {
        theApp.m_dwExitCode = static_cast<DWORD>(error.Code());
        ReportError(error);
        m_hMSIThreadMutex.reset();
        return EndWithoutInstalling();
    }
}

void CSetupDlg::PollWorker(UINT_PTR id) {
    if (!m_hMSIThreadMutex) {
        // Handed over by the worker, never opened by name: no object another
        // program made under that name can hold the dialog.
        m_hMSIThreadMutex.reset(InterlockedExchangePointer(&m_hOfferedMutex, nullptr));
        if (!m_hMSIThreadMutex) {
            // Not created yet, or the worker has already come and gone (or
            // had no mutex): then end as if the wait had seen it end.
            if (m_hWorkerThread && WaitForSingleObject(m_hWorkerThread.get(), 0) == WAIT_OBJECT_0) EndAfterWorker(id);
            return;
        }
    }

    if (!m_pMSIThread) {
        LogTrace(L"msiexec process not found");
        KillTimer(m_hWnd, id);
        EndDialog(IDCANCEL);
        return;
    }

    const DWORD wait = WaitForSingleObject(m_hMSIThreadMutex.get(), 10);
    // A wait that ends on the mutex makes this thread its owner: it is given
    // back when the tick is over; the handle stays until the destructor.
    qx::MutexGuard taken(qx::WaitTookMutex(wait) ? m_hMSIThreadMutex.get() : nullptr);
    if (wait == WAIT_TIMEOUT) {
        if (m_pUILock && m_pUILock->m_bAcquired) return;   // the hourglass is still wanted
        LogTrace(L"Lock removed from UI MUTEX");
        KillTimer(m_hWnd, id);
        LogTrace(L"Hiding Hourglass AVI Window");
        ShowWindow(m_hWnd, SW_HIDE);
        // The worker releases its mutex as its last act; its thread's end
        // counts as well, should it ever end without doing so. The wait has
        // no limit but keeps the window answering: the timer is gone, so
        // nothing of this handler runs again meanwhile.
        const HANDLE ends[] = {m_hMSIThreadMutex.get(), m_hWorkerThread.get()};
        const DWORD ended = qx::WaitPumpingMessages(m_hWorkerThread ? 2 : 1, ends);
        qx::MutexGuard last(qx::WaitTookMutex(ended) ? m_hMSIThreadMutex.get() : nullptr);
        EndDialog(IDOK);
    } else if (wait == WAIT_OBJECT_0) {
        // The worker has finished between two ticks: with the lock still
        // held that is the cancel ending; a lock the module let go counts as
        // seen, as when the worker came and went before any tick.
        EndAfterWorker(id);
    } else {
        // Abandoned or failed.
        KillTimer(m_hWnd, id);
        ShowWindow(m_hWnd, SW_HIDE);
        EndDialog(IDCANCEL);
    }
}
