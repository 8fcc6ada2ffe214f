#include "framework/Thread.h"

DWORD WINAPI CWinThread::Start(LPVOID self) {
    auto* thread = static_cast<CWinThread*>(self);
    UINT code = thread->m_pfnThreadProc(thread->m_pThreadParams);
    if (thread->m_bAutoDelete) delete thread;
    return code;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES security) {
    auto* thread = new CWinThread(proc, param);
    // Always created suspended, so the priority is set before it runs.
    thread->m_hThread.reset(
        CreateThread(security, stackSize, &CWinThread::Start, thread, CREATE_SUSPENDED, &thread->m_nThreadID));
    if (!thread->m_hThread) {
        delete thread;
        return nullptr;
    }
    SetThreadPriority(thread->m_hThread.get(), priority);
    if (!(createFlags & CREATE_SUSPENDED)) thread->ResumeThread();
    return thread;
}
