#include "ui/SetupDlg.h"

#include <string>

#include "res/ProductIdentity.h"
#include "res/Switches.h"
#include "app/SetupApp.h"
#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/MessageWait.h"
#include "framework/ObjectSecurity.h"
#include "modules/CompanionModules.h"
#include "ui/PackageSearch.h"
#include "ui/WaitUIThread.h"
#include "worker/MSIThread.h"

CSetupDlg::CSetupDlg(CWnd* parent) : CDialog(kSetupDialogTemplate, parent) {
    m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIcon));
}

CSetupDlg::~CSetupDlg() {
    // Whatever ended the dialog, the worker and the install-actions module
    // may still use the lock record: free nothing under them.
    if (m_hWorkerThread) WaitForSingleObject(m_hWorkerThread.get(), INFINITE);
    m_hMSIThreadMutex.reset();
    // The lock calls into the event when it unlocks: it goes first.
    if (m_pUILock) {
        m_pUILock->Unlock();
        delete m_pUILock;
    }
    delete m_pUIEvent;
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
    // Screen readers announce a window by its text. The popup has no
    // caption, so nothing changes on screen.
    SetWindowTextW(m_hWnd, kProductName);

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
        case WM_DPICHANGED:
            // Handled here rather than by the dialog manager, which would
            // lay out the hourglass thread's control meanwhile.
            FollowScaleChange(m_hWnd, *reinterpret_cast<const RECT*>(lParam), m_dwWaitUIThreadId);
            result = 0;
            return true;
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

std::unique_ptr<InstallRequest> CSetupDlg::PrepareInstallation() {
    auto request = std::make_unique<InstallRequest>();
    if (theApp.m_bUninstall) {
        // The product is removed by its code: no package is looked for,
        // and no disc is asked for.
        LogTrace(L"Uninstall: the product's own identity stands for the package");
        request->manufacturer = kManufacturer;
        request->productName = kProductName;
        request->productCode = kProductGuid;
        return request;
    }
    FoundPackage found =
        FindPackage(m_hWnd, theApp.m_bNoPrompts, HasCallerSwitch(theApp.m_lpCmdLine, kSwitchAfterReboot));
    switch (found.outcome) {
        case FoundPackage::Outcome::kFound:
        case FoundPackage::Outcome::kNothingToInstall:
            break;
        case FoundPackage::Outcome::kCancelled:
            // The person's choice, not a failure: nothing installed,
            // nothing reported, and the cancel is the exit code.
            theApp.m_dwExitCode = ERROR_INSTALL_USEREXIT;
            return nullptr;
        case FoundPackage::Outcome::kRefused:
            // Reported in the launcher's own box.
            return nullptr;
        case FoundPackage::Outcome::kFailed:
            LogSystemError(found.failure);
            throw InstallErrorException(static_cast<int32_t>(found.failure));
    }
    request->manufacturer = found.manufacturer;
    request->productName = found.productName;
    request->productCode = found.productCode;
    // Held on until the installation has ended: the install-actions module
    // is handed this very file and takes the launcher's word for it.
    request->package = std::move(found.file);
    request->packageFolder = std::move(found.folder);
    return request;
}

bool CSetupDlg::FirstTick() {
    // Nothing of a run that is refused a module goes on: no disc prompt,
    // no cache, no installation.
    if (CompanionsRefused()) return EndWithoutInstalling();
    try {
        std::unique_ptr<InstallRequest> request = PrepareInstallation();
        if (!request) return EndWithoutInstalling();

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
        request->lock = m_pUILock;
        request->workerMutex = &m_workerMutexOffer;

        LogTrace(L"Installed Product");
        LogTrace(L"Starting MSIThreadProc");
        m_pMSIThread = AfxBeginThread(MSIThreadProc, request.get(), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
        if (!m_pMSIThread) {
            // Without a worker its mutex never appears: end now rather than wait.
            LogTrace(L"msiexec process not found");
            KillTimer(m_hWnd, kSetupTimerId);
            EndDialog(IDCANCEL);
            return false;
        }
        // The worker's from here on.
        request.release();
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
        m_hMSIThreadMutex = m_workerMutexOffer.Take();
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
