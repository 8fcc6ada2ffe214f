#include "diag/ErrorReporting.h"

#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/Ownership.h"
#include "framework/SystemMessage.h"
#include "framework/AppMessageBox.h"
#include "framework/FileSignature.h"
#include "framework/ReleasePins.h"
#include "modules/CompanionModules.h"
#include "modules/ErrorInterface.h"
#include "framework/ResourceText.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"

void LogSystemError(DWORD code) {
    const std::wstring text = qx::SystemMessage(code);
    LogError(L"===>>> ERROR :\n Code: %d\nMsg: %s", static_cast<int>(code), !text.empty() ? text.c_str() : L"Unkown Error");
}

namespace {

std::wstring CutToReport(const std::wstring& text) {
    wchar_t message[kReportMessageCapacity] = {};
    qx::BoundedCopy(message, kReportMessageCapacity, text.c_str());
    return message;
}

}  // namespace

std::wstring ReportMessageFor(int32_t code, HMODULE resModule) {
    if (code == kErrorFromCatalog) {
        std::wstring text;
        ModuleLoad load;
        LoadModuleString(text, resModule, kIdsErrorCatalog, &load);
        if (load.refused != S_OK) ReportRefusal(load.path, load.refused);
        return CutToReport(text);
    }
    wchar_t message[kReportMessageCapacity] = {};
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                       GetUserDefaultUILanguage(), message, kReportMessageCapacity, nullptr) == 0)
        message[0] = L'\0';
    return message;
}

std::wstring ReportMessageForLog(int32_t code, HMODULE resModule, const std::wstring& reported) {
    if (code != kErrorFromCatalog || reported.empty() || !resModule) return reported;
    const std::wstring english = qx::ResourceString(resModule, kIdsErrorCatalog, qx::kEnglishLanguage);
    return !english.empty() ? CutToReport(english) : reported;
}

namespace {
HMODULE g_resModule = nullptr;
bool g_quietReporting = false;
// The first refusal of the run; written by whichever thread refuses.
volatile LONG g_refusal = S_OK;

}  // namespace

void ReportRefusal(const std::wstring& path, HRESULT result) {
    InterlockedCompareExchange(&g_refusal, result, S_OK);
    LogRefusal(path.c_str(), result);
    if (g_quietReporting) return;
    wchar_t code[16] = {};
    qx::BoundedFormat(code, 16, L"0x%08X", static_cast<unsigned>(result));
    // Read directly, not through "CustomActionData64.dll": that may be the
    // file refused.
    std::wstring message;
    if (result == qx::kNotThisRelease) {
        const std::wstring version = qx::FileVersionOf(path.c_str());
        message = ProductText(g_resModule, kIdsFileOtherRelease,
                              {kProductVersion, path.c_str(), version.empty() ? L"-" : version.c_str(), code});
    } else {
        const std::wstring reason = RefusalReason(result, qx::TextFor::kPerson, g_resModule);
        message = ProductText(g_resModule, qx::CouldNotBeChecked(result) ? kIdsFileNotChecked : kIdsFileRefused,
                              {path.c_str(), reason.c_str(), code});
    }
    AppMessageBox(message.c_str(), MB_OK | MB_ICONERROR);
}

HRESULT RefusalCode() { return static_cast<HRESULT>(g_refusal); }

void SetReportingContext(HMODULE resModule, bool quiet) {
    g_resModule = resModule;
    g_quietReporting = quiet;
}

void ReportError(const InstallErrorException& error) {
    const std::wstring message = ReportMessageFor(error.Code(), g_resModule);
    const std::wstring logged = ReportMessageForLog(error.Code(), g_resModule, message);
    LogTrace(L"ReportError: %s", logged.c_str());
    // A run that refused a file of the product has said so in its own box
    // and loads no module after it.
    if (RefusalCode() != S_OK) return;
    if (g_quietReporting) {
        LogErrorText(logged.empty() ? L"Unkown Error" : logged.c_str());
        return;
    }

    // By its full path, once its file passed the check; what it imports
    // comes from the system folder only.
    ModuleLoad load;
    const qx::UniqueModule module = LoadErrorModule(load);
    // The path is logged as plain text: a '%' in a folder name stays as it is.
    LogTrace(L"%s", load.path.c_str());
    if (load.refused != S_OK) {
        ReportRefusal(load.path, load.refused);
        return;
    }
    if (!module) {
        LogError(L"Could not load error reproting module");
        return;
    }
    auto getInterface =
        reinterpret_cast<GetErrorInterfaceFn>(reinterpret_cast<void*>(GetProcAddress(module.get(), kGetErrorInterfaceExport)));
    IErrorInterface* reporter = getInterface ? getInterface() : nullptr;
    if (reporter) {
        reporter->ReportErrorMessage(message.c_str(), 0, 0);
    } else {
        // A module without the export, or one that hands out no object, is
        // never called through.
        LogError(L"Error reporting module has no usable GetErrorInterface");
    }
}
