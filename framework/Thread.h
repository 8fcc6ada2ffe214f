#pragma once
// Framework-started threads. The thread object deletes itself (and closes
// its handle) when the thread procedure returns, if m_bAutoDelete is set.
#include <windows.h>

#include "framework/Ownership.h"

using AFX_THREADPROC = UINT (*)(LPVOID);

class CWinThread {
public:
    CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;
    virtual ~CWinThread() = default;

    DWORD ResumeThread() { return ::ResumeThread(m_hThread.get()); }

    qx::UniqueHandle m_hThread;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, LPSECURITY_ATTRIBUTES);
    static DWORD WINAPI Start(LPVOID self);
    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;
};

// Starts proc(param) on a new thread with the given priority, stack size
// (0: default) and creation flags (CREATE_SUSPENDED leaves it to the caller
// to resume). Returns null when the thread cannot be created.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0, LPSECURITY_ATTRIBUTES security = nullptr);
