// Shows an error report to the person installing.
#include <windows.h>

#include "modules/ErrorInterface.h"
#include "res/ProductIdentity.h"

namespace {

class MessageBoxReporter final : public IErrorInterface {
public:
    int ReportErrorMessage(const wchar_t* message, int, int) override {
        const wchar_t* text = (message && *message)
                                  ? message
                                  : L"The installation could not be completed.";
        return MessageBoxW(nullptr, text, kErrorReportCaption,
                           MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    }
};

MessageBoxReporter g_reporter;

}  // namespace

extern "C" __declspec(dllexport) IErrorInterface* GetErrorInterface() { return &g_reporter; }
