#include "app/UserNotice.h"

#include "app/SetupApp.h"
#include "diag/Logger.h"
#include "framework/AppMessageBox.h"

void TellUser(const std::wstring& text, const std::wstring& textForLog) {
    if (theApp.m_bQuiet) {
        LogErrorText(textForLog.c_str());
    } else {
        AppMessageBox(text.c_str());
    }
}
