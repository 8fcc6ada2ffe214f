#include "app/PendingReboot.h"

#include "app/ProductIdentity.h"
#include "framework/AppMessageBox.h"
#include "modules/Utilities.h"

namespace {
constexpr wchar_t kFallbackText[] =
    L"A restart of this computer is pending. Please restart the computer, then start the setup "
    L"again.";
}

bool IsRebootPending() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPendingRebootKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring FormatPendingRebootText(HMODULE resModule) {
    std::wstring definition;
    Utilities::Instance()->LoadStringMV(definition, resModule, kIdsPendingReboot);

    // A message definition without inserts: %n breaks a line, the text's own
    // line breaks are dropped, output lines are wrapped at 60 characters.
    std::wstring text;
    wchar_t* formatted = nullptr;
    if (!definition.empty() &&
        FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | 60,
                       definition.c_str(), 0, LANG_USER_DEFAULT,
                       reinterpret_cast<LPWSTR>(&formatted), 0, nullptr) != 0 &&
        formatted) {
        text = formatted;
    }
    if (formatted) LocalFree(formatted);
    if (text.empty()) text = kFallbackText;
    return text;
}

void ShowPendingRebootMessage(HMODULE resModule) {
    AppMessageBox(FormatPendingRebootText(resModule).c_str());
}
