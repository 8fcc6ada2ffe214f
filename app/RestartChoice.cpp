#include "app/RestartChoice.h"

#include <string>

#include "app/SetupApp.h"
#include "diag/Logger.h"
#include "framework/SessionVisibility.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"
#include "worker/RunOnce.h"

bool RestartWhenAllowed() {
    if (!theApp.m_bNoPrompts) {
        const std::wstring question = ProductText(theApp.m_hResModule, kIdsRestartQuestion, {kProductName});
        const std::wstring caption = ProductText(theApp.m_hResModule, kIdsPadCaption);
        // A box that could not be shown counts as a no: nothing restarts
        // that nobody agreed to.
        if (MessageBoxW(nullptr, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) !=
            IDYES) {
            LogTrace(L"Restart left to the person");
            return false;
        }
    }
    // Where nobody sees, or as another user than the one at the desktop,
    // ExitWindowsEx may restart nothing.
    const bool interactive = !theApp.m_bUnseen && qx::RunsAsTheWindowStationsUser();
    return RebootSystemNow(interactive ? RestartAsker::kInteractiveUser : RestartAsker::kElsewhere);
}
