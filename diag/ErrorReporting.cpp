#include "diag/ErrorReporting.h"

#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/ModuleFolder.h"
#include "framework/Ownership.h"
#include "framework/SystemLibrary.h"
#include "framework/SystemMessage.h"
#include "modules/ErrorInterface.h"
#include "modules/Utilities.h"
#include "res/ProductIdentity.h"

void LogSystemError(DWORD code) {
    const std::wstring text = qx::SystemMessage(code);
    LogError(L"===>>> ERROR :\n Code: %d\nMsg: %s", static_cast<int>(code), !text.empty() ? text.c_str() : L"Unkown Error");
}

std::wstring ReportMessageFor(int32_t code, HMODULE resModule) {
    wchar_t message[kReportMessageCapacity] = {};
    if (code == kErrorFromCatalog) {
        std::wstring text;
        Utilities::Instance()->LoadStringMV(text, resModule, kIdsErrorCatalog);
        qx::BoundedCopy(message, kReportMessageCapacity, text.c_str());
    } else if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              static_cast<DWORD>(code), GetUserDefaultUILanguage(), message,
                              kReportMessageCapacity, nullptr) == 0) {
        message[0] = L'\0';
    }
    return message;
}

namespace {
HMODULE g_resModule = nullptr;
bool g_quietReporting = false;
}  // namespace

void SetReportingContext(HMODULE resModule, bool quiet) {
    g_resModule = resModule;
    g_quietReporting = quiet;
}

void ReportError(const InstallErrorException& error) {
    const std::wstring message = ReportMessageFor(error.Code(), g_resModule);
    LogTrace(L"ReportError: %s", message.c_str());
    if (g_quietReporting) {
        LogErrorText(message.empty() ? L"Unkown Error" : message.c_str());
        return;
    }

    wchar_t modulePath[2 * MAX_PATH] = {};
    bool havePath = qx::GetLauncherFolder(modulePath, 2 * MAX_PATH) &&
                    qx::BoundedAppend(modulePath, 2 * MAX_PATH, kErrorModuleFile);
    // The path is logged as plain text: a '%' in a folder name stays as it is.
    LogTrace(L"%s", modulePath);

    // By its full path; what it imports comes from its own folder or the
    // system folder, never from the current folder or PATH.
    const qx::UniqueModule module(havePath ? qx::LoadModuleByFullPath(modulePath) : nullptr);
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
