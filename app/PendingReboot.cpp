#include "app/PendingReboot.h"

#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"
#include "framework/Ownership.h"
#include "framework/ResourceText.h"
#include "diag/ErrorReporting.h"
#include "modules/CompanionModules.h"

bool IsRebootPending() {
    return qx::RegistryKeyOpens(HKEY_LOCAL_MACHINE, kPendingRebootKey);
}

std::wstring FormatPendingRebootText(HMODULE resModule) {
    std::wstring definition;
    ModuleLoad load;
    LoadModuleString(definition, resModule, kIdsPendingReboot, &load);
    if (load.refused != S_OK) {
        ReportRefusal(load.path, load.refused);
        return {};
    }

    // In the person's language; English where the string module cannot
    // give it or it cannot be formatted.
    const std::wstring text = FormatMessageDefinition(definition);
    return !text.empty() ? text : PendingRebootTextForLog(resModule);
}

std::wstring PendingRebootTextForLog(HMODULE resModule) {
    const std::wstring text =
        resModule ? FormatMessageDefinition(qx::ResourceString(resModule, kIdsPendingReboot, qx::kEnglishLanguage))
                  : std::wstring();
    return !text.empty() ? text : std::wstring(kPendingRebootFallback);
}

std::wstring FormatMessageDefinition(const std::wstring& definition) {
    if (definition.empty()) return {};
    // No arguments are given, so inserts are ignored: a "%1" in the text
    // stays as it is instead of reading arguments that are not there. %n
    // still breaks a line, the text's own line breaks are dropped, and
    // output lines are wrapped at 60 characters.
    wchar_t* formatted = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER | 60,
        definition.c_str(), 0, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&formatted), 0, nullptr);
    const qx::UniqueLocal owned(formatted);
    return n != 0 && formatted ? std::wstring(formatted) : std::wstring();
}
