#pragma once
// The hourglass popup that drives the installation from one timer.
#include <windows.h>

#include <memory>

#include "framework/Dialog.h"
#include "framework/Ownership.h"
#include "framework/SyncObjects.h"
#include "framework/Thread.h"
#include "worker/InstallRequest.h"

inline constexpr UINT_PTR kSetupTimerId = 1;
inline constexpr UINT kSetupTimerMs = 100;

class CSetupDlg : public CDialog {
public:
    explicit CSetupDlg(CWnd* parent = nullptr);
    ~CSetupDlg() override;

    BOOL m_bFirstTick = TRUE;
    CWinThread* m_pWaitUIThread = nullptr;
    CWinThread* m_pMSIThread = nullptr;
    qx::UniqueHandle m_hMSIThreadMutex;
    CEvent* m_pUIEvent = nullptr;
    UiLock* m_pUILock = nullptr;
    HICON m_hIcon = nullptr;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // Enter does not end the popup.
    void OnOK() override {}
    // Escape ends it only while no installation runs: the worker and the
    // install-actions module hold the lock record the dialog owns.
    void OnCancel() override;

private:
    void OnTimer(UINT_PTR id);
    // Tells the hourglass thread to stop and waits for its end: it reads
    // this window and draws in it, so it ends before the window does.
    void StopHourglass();
    void OnPaint();
    // False when it has ended the dialog.
    bool FirstTick();
    // What the worker is to install: the package found (none for a
    // removal), and the lock record and mailbox it shares with the dialog.
    // Null when the first tick has ended the dialog.
    std::unique_ptr<InstallRequest> PrepareInstallation();
    // Whether the check refused a companion module (each refusal reported).
    bool CompanionsRefused();
    // Ends the dialog before any installation (a refusal, a cancel, a
    // failed first tick); false.
    bool EndWithoutInstalling();
    void PollWorker(UINT_PTR id);
    bool WorkerRunning() const;
    // The worker ended before its mutex was ever seen.
    void EndAfterWorker(UINT_PTR id);

    // Our own handle to the worker thread, so the dialog can outlive no
    // running worker whatever ended it.
    qx::UniqueHandle m_hWorkerThread;
    // Our own handle to the hourglass thread, and its id for the stop.
    qx::UniqueHandle m_hWaitUIThread;
    DWORD m_dwWaitUIThreadId = 0;
    // The worker hands over a handle to its mutex here (with no name, the
    // dialog could not open it otherwise); a tick takes it.
    qx::HandleMailbox m_workerMutexOffer;
};
