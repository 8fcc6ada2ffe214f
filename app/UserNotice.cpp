#include "app/UserNotice.h"

#include "app/SetupApp.h"
#include "diag/Logger.h"
#include "framework/AppMessageBox.h"
#include "framework/Ownership.h"
#include "modules/CompanionModules.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"

void TellUser(const std::wstring& text, const std::wstring& textForLog) {
    if (theApp.m_bQuiet) {
        LogErrorText(textForLog.c_str());
    } else {
        AppMessageBox(text.c_str());
    }
}

void ShowHelp(HMODULE resModule) {
    std::wstring definition;
    LoadModuleString(definition, resModule, kIdsHelp);
    // The English copy, where the resource module or its string is missing.
    if (definition.empty()) definition = EnglishFallbackText(kIdsHelp);
    // A message definition: %n breaks a line, %t is a tab; no wrapping.
    qx::UniqueLocal formatted;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                   definition.c_str(), 0, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(formatted.put()),
                                   0, nullptr);
    const std::wstring text = n && formatted ? static_cast<const wchar_t*>(formatted.get()) : definition;
    AppMessageBox(text.c_str(), MB_OK | MB_ICONINFORMATION);
}
