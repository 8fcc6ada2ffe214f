#include "ui/SetupDlg.h"

#include <setupapi.h>
#include <shlwapi.h>

#include <string>

#include "app/ProductIdentity.h"
#include "app/SetupApp.h"
#include "cache/SourcePaths.h"
#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
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
    if (m_hWorkerThread) {
        WaitForSingleObject(m_hWorkerThread, INFINITE);
        CloseHandle(m_hWorkerThread);
    }
    if (m_hMSIThreadMutex) CloseHandle(m_hMSIThreadMutex);
    // The lock calls into the event when it unlocks: it goes first.
    if (m_pUILock) {
        m_pUILock->Unlock();
        delete m_pUILock;
    }
    delete m_pUIEvent;
}

DWORD CSetupDlg::GetProductInfo(const wchar_t* packagePath) {
    return ReadProductInfo(packagePath, m_szProductName, m_szProductCode, m_szManufacturer);
}

BOOL CSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    LogTrace(L"Starting Thread for hourglass AVI");
    m_pWaitUIThread = AfxBeginThread(WaitUIThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (m_pWaitUIThread) {
        m_pWaitUIThread->m_bAutoDelete = TRUE;
        m_pWaitUIThread->ResumeThread();
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
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return false;   // then the dialog's default processing
        default:
            return CDialog::OnMessage(message, wParam, lParam, result);
    }
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
    return m_hWorkerThread && WaitForSingleObject(m_hWorkerThread, 0) == WAIT_TIMEOUT;
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
    try {
        wchar_t modulePath[MAX_PATH] = {};
        GetModuleFileNameW(theApp.m_hInstance, modulePath, MAX_PATH);
        wchar_t* filePart = nullptr;
        GetFullPathNameW(modulePath, MAX_PATH, packagePath, &filePart);
        if (filePart) *filePart = L'\0';
        PathAppendW(packagePath, kPackageFile);

        LogTrace(L"Getting Product Info");
        DWORD result = GetProductInfo(packagePath);
        if (result == ERROR_FILE_NOT_FOUND) {
            LogTrace(L"PROMPT for user to insert the Disk (In SetupDlg - On Timer - First Time) . Looking For\" "
                     L"QXPRP4005.msi \"");
            const std::wstring recorded = GetCachedSourcePath();
            DWORD required = kPackagePathCapacity;
            SetupPromptForDiskW(m_hWnd, nullptr, kProductName, recorded.c_str(), kPackageFile, nullptr,
                                kDiscPromptStyle, packagePath, kPackagePathCapacity, &required);
            packagePath[kPackagePathCapacity - 1] = L'\0';
            // The prompt's answer is not looked at: reading the package is the test.
            PathAppendW(packagePath, kPackageFile);
            result = GetProductInfo(packagePath);
        }
        if (result != ERROR_SUCCESS) {
            LogSystemError(result);
            throw InstallErrorException(static_cast<int32_t>(result));
        }

        LogTrace(L"Creating UI MUTEX");
        m_pUIEvent = new CEvent(FALSE, FALSE, kUiEventName);
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
        DuplicateHandle(GetCurrentProcess(), m_pMSIThread->m_hThread, GetCurrentProcess(), &m_hWorkerThread,
                        SYNCHRONIZE, FALSE, 0);
        LogTrace(L"Resume MSIThreadProc");
        m_pMSIThread->ResumeThread();
        LogTrace(L"Exiting Product");
        return true;
    } catch (InstallErrorException& error) {
        ReportError(error);
        ShowWindow(m_hWnd, SW_HIDE);
        KillTimer(m_hWnd, kSetupTimerId);
        if (m_hMSIThreadMutex) {
            CloseHandle(m_hMSIThreadMutex);
            m_hMSIThreadMutex = nullptr;
        }
        EndDialog(IDCANCEL);
        return false;
    }
}

void CSetupDlg::PollWorker(UINT_PTR id) {
    if (!m_hMSIThreadMutex) {
        m_hMSIThreadMutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kWorkerMutexName);
        if (!m_hMSIThreadMutex) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) {
                // Not created yet, or the worker has already come and gone
                // between two ticks: then end as if the wait had seen it end.
                if (m_hWorkerThread && WaitForSingleObject(m_hWorkerThread, 0) == WAIT_OBJECT_0) EndAfterWorker(id);
                return;
            }
            KillTimer(m_hWnd, id);
            EndDialog(IDCANCEL);
        }
    }

    if (!m_pMSIThread) {
        LogTrace(L"msiexec process not found");
        KillTimer(m_hWnd, id);
        EndDialog(IDCANCEL);
        return;
    }

    DWORD wait = m_hMSIThreadMutex ? WaitForSingleObject(m_hMSIThreadMutex, 10) : WAIT_FAILED;
    if (wait == WAIT_TIMEOUT) {
        if (m_pUILock && m_pUILock->m_bAcquired) return;   // the hourglass is still wanted
        LogTrace(L"Lock removed from UI MUTEX");
        KillTimer(m_hWnd, id);
        LogTrace(L"Hiding Hourglass AVI Window");
        ShowWindow(m_hWnd, SW_HIDE);
        // The worker releases its mutex as its last act.
        WaitForSingleObject(m_hMSIThreadMutex, INFINITE);
        ReleaseMutex(m_hMSIThreadMutex);
        CloseHandle(m_hMSIThreadMutex);
        m_hMSIThreadMutex = nullptr;
        EndDialog(IDOK);
    } else if (wait == WAIT_OBJECT_0) {
        // The worker finished while the lock was still held.
        ReleaseMutex(m_hMSIThreadMutex);
        CloseHandle(m_hMSIThreadMutex);
        m_hMSIThreadMutex = nullptr;
        KillTimer(m_hWnd, id);
        ShowWindow(m_hWnd, SW_HIDE);
        EndDialog(IDCANCEL);
    } else {
        // Abandoned or failed: the handle stays until the destructor.
        if (wait == WAIT_ABANDONED) ReleaseMutex(m_hMSIThreadMutex);
        KillTimer(m_hWnd, id);
        ShowWindow(m_hWnd, SW_HIDE);
        EndDialog(IDCANCEL);
    }
}
