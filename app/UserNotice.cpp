#include "app/UserNotice.h"

#include "app/SetupApp.h"
#include "diag/Logger.h"
#include "framework/AppMessageBox.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"

void TellUser(const std::wstring& text, const std::wstring& textForLog) {
    if (theApp.m_bNoPrompts) {
        LogErrorText(textForLog.c_str());
    } else {
        AppMessageBox(text.c_str());
    }
}

void ShowHelp(HMODULE resModule) {
    // A message definition without inserts: %n breaks a line, %t is a tab.
    AppMessageBox(ProductText(resModule, kIdsHelp).c_str(), MB_OK | MB_ICONINFORMATION);
}
