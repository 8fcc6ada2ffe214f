#include "app/PadStart.h"

#include <windows.h>

#include "res/ProductIdentity.h"
#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/FileSignature.h"
#include "framework/ReleasePins.h"
#include "framework/BoundedText.h"
#include "framework/ModuleFolder.h"
#include "framework/Ownership.h"

bool StartPad() {
    wchar_t padPath[MAX_PATH] = {};
    bool havePath = qx::GetLauncherFolder(padPath, MAX_PATH) &&
                    qx::BoundedAppend(padPath, MAX_PATH, kPadFile);
    LogTrace(L"Pad : %s", padPath);
    // Without a full path the system would search other folders for a
    // "Setup.exe": start nothing then.
    if (!havePath) return true;

    // Held, shared for reading only, until the Pad has started from it.
    const qx::CheckedFile pad = qx::CheckedFile::Open(padPath);
    // Nothing there: nothing to start, as a start of a missing file would have it.
    if (pad.Absent()) return true;
    if (!pad.Passed()) {
        ReportRefusal(padPath, pad.Refusal());
        return false;
    }
    // Started by the path the checked file resolves to, its folders held.
    const wchar_t* usable = pad.UsablePath();
    // The Pad pins this launcher, so this launcher cannot pin the Pad: a
    // signed launcher takes it by its signer and its release's version.
    if (qx::ProgramCarriesSignature() && qx::FileVersionOf(usable) != kProductVersion) {
        ReportRefusal(padPath, qx::kNotThisRelease);
        return false;
    }

    // The Pad gets its own quoted path and nothing else: none of the
    // launcher's arguments is passed on.
    wchar_t commandLine[1024] = {};
    qx::BoundedFormat(commandLine, 1024, L"\"%s\"", usable);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(usable, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        const qx::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    }
    return true;
}
