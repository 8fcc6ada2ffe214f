#pragma once
// A pause of the install-actions double at one point of its run, so that a
// test can look at the launcher while the installation is in that state
// (the lock still held, or already released while the worker still runs).
// The script asks for it ("pause_before_unlock=1", "pause_after_unlock=1");
// the double then sets the point's "reached" event and waits for its "go"
// event. Both are manual-reset events in the session's namespace, made by
// whichever side comes first.
#include <windows.h>

#include <string>

#include "framework/Ownership.h"

namespace qxtest {

inline constexpr wchar_t kPauseBeforeUnlock[] = L"before-unlock";
inline constexpr wchar_t kPauseAfterUnlock[] = L"after-unlock";
// How long the double waits for its go at most: a test that died must not
// leave a launcher behind for ever.
inline constexpr DWORD kPauseLimitMs = 120000;

inline std::wstring PauseEventName(const wchar_t* point, const wchar_t* event) {
    return std::wstring(L"Local\\qxtest-actions-") + point + L"-" + event;
}

// The test's side of one pause point; make it before the launcher starts.
class ActionsPause {
public:
    explicit ActionsPause(const wchar_t* point)
        : reached_(CreateEventW(nullptr, TRUE, FALSE, PauseEventName(point, L"reached").c_str())),
          go_(CreateEventW(nullptr, TRUE, FALSE, PauseEventName(point, L"go").c_str())) {
        // Events a case before left set must not count for this one.
        ResetEvent(reached_.get());
        ResetEvent(go_.get());
    }
    ~ActionsPause() { Go(); }   // never leaves a launcher waiting
    ActionsPause(const ActionsPause&) = delete;
    ActionsPause& operator=(const ActionsPause&) = delete;

    // True once the double has reached the point and is waiting there.
    bool Reached(DWORD timeoutMs) const { return WaitForSingleObject(reached_.get(), timeoutMs) == WAIT_OBJECT_0; }
    void Go() const { SetEvent(go_.get()); }

private:
    qx::UniqueHandle reached_;
    qx::UniqueHandle go_;
};

// The double's side: announce the point and wait for the test's go.
inline void PauseHere(const wchar_t* point) {
    const qx::UniqueHandle reached(CreateEventW(nullptr, TRUE, FALSE, PauseEventName(point, L"reached").c_str()));
    const qx::UniqueHandle go(CreateEventW(nullptr, TRUE, FALSE, PauseEventName(point, L"go").c_str()));
    if (!reached || !go) return;
    SetEvent(reached.get());
    WaitForSingleObject(go.get(), kPauseLimitMs);
}

}  // namespace qxtest
