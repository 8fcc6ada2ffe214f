#pragma once
// The hourglass popup that drives the installation from one timer.
#include <windows.h>

#include "framework/Dialog.h"
#include "framework/FileSignature.h"
#include "framework/Ownership.h"
#include "framework/SyncObjects.h"
#include "framework/Thread.h"
#include "worker/MSIThread.h"

inline constexpr UINT_PTR kSetupTimerId = 1;
inline constexpr UINT kSetupTimerMs = 100;

class CSetupDlg : public CDialog {
public:
    explicit CSetupDlg(CWnd* parent = nullptr);
    ~CSetupDlg() override;

    // Reads "ProductName", "ProductCode" and "Manufacturer" of the package
    // into the three fields once the package passed the check against the
    // program's signature; 0, the failing installer call's code, or the
    // check's result (the refusal reported).
    DWORD GetProductInfo(const wchar_t* packagePath);

    // The worker hands over a handle to its mutex here (with no name, the
    // dialog could not open it otherwise); the dialog takes it on a tick.
    void OfferWorkerMutex(qx::UniqueHandle mutex);

    BOOL m_bFirstTick = TRUE;
    CWinThread* m_pWaitUIThread = nullptr;
    CWinThread* m_pMSIThread = nullptr;
    qx::UniqueHandle m_hMSIThreadMutex;
    CEvent* m_pUIEvent = nullptr;
    UiLock* m_pUILock = nullptr;
    wchar_t m_szManufacturer[256] = {};
    wchar_t m_szProductName[256] = {};
    wchar_t m_szProductCode[40] = {};
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
    // The package read, held unchanged until the worker has ended.
    qx::CheckedFile m_heldPackage;
    // Written by the worker, taken by the dialog's thread.
    HANDLE volatile m_hOfferedMutex = nullptr;
};
