// Shows an error report to the person installing, in that person's
// language: the caption, and the text when the report brings none, come
// from the resource module beside this module.
#include <windows.h>

#include "framework/Ownership.h"
#include "framework/ResourceText.h"
#include "modules/ErrorInterface.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"

namespace {

// This module itself, whose folder holds the resource module.
HMODULE ThisModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &self);
    return self;
}

class MessageBoxReporter final : public IErrorInterface {
public:
    int ReportErrorMessage(const wchar_t* message, int, int) override {
        // Loaded as data for this one report, as this module is.
        const qx::UniqueModule texts(ThisModule() ? qx::LoadResourcesBeside(ThisModule(), kResourceModuleFile)
                                                  : nullptr);
        const std::wstring text =
            (message && *message) ? std::wstring(message) : ProductText(texts.get(), kIdsInstallationFailed);
        const std::wstring caption = ProductText(texts.get(), kIdsErrorReportCaption);
        return MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    }
};

MessageBoxReporter g_reporter;

}  // namespace

extern "C" __declspec(dllexport) IErrorInterface* GetErrorInterface() { return &g_reporter; }
