#pragma once
// The texts a person reads, taken from the resource module in that
// person's language. Their home is the resource module
// (companions/resources/QXVSetupRES64.rc), in every language; a
// translation is added there. The English below is a fallback only, for a
// program that runs without the resource module or one that lacks the
// string; the log, which is English, takes the same words. A test holds
// each of them equal to the module's English.
#include <windows.h>

#include <initializer_list>
#include <string>

#include "framework/ResourceText.h"
#include "res/ProductIdentity.h"

struct EnglishFallback {
    unsigned id;
    const wchar_t* text;
};

// ENGLISH FALLBACK ONLY: not the texts themselves (see above).
inline constexpr EnglishFallback kEnglishFallbacks[] = {
    {kIdsPadCaption, L"QX Prism P4000 Series Setup"},
    {kIdsPadNotStarted, L"The setup could not be started:%n%1%n%n%2"},
    {kIdsPadNotSigned, L"The setup could not be started:%n%1%n%nIt is not signed by the publisher of this setup.%n%2"},
    {kIdsErrorNumber, L"Error %1"},
    {kIdsErrorReportCaption, L"QX Prism P4000 Series"},
    {kIdsInstallationFailed, L"The installation could not be completed."},
    {kIdsFileRefused, L"The setup was stopped: a file of the product is not signed by its publisher and was not "
                      L"used.%n%n%1%n%n%2 (%3)"},
    {kIdsReasonUnsigned, L"No signature was present in the subject."},
    {kIdsReasonChanged, L"The digital signature of the object did not verify."},
    {kIdsReasonNotOurs, L"The subject is not trusted for the specified action."},
    {kIdsReasonUnknown, L"Unkown Error"},
    {kIdsAlreadyRunning, L"Another installation is already in progress. Complete that installation before "
                         L"proceeding with this install."},
    {kIdsHelp,
     L"QX Prism P4000 Series Setup%n%nSetup.exe [/quiet | /passive] [/norestart] [/log <file>] [/uninstall] [/?]%n%n"
     L"/quiet, /q, /qn%tNo window; nothing to answer.%n/passive%tProgress only; nothing to answer.%n"
     L"/norestart%tA needed restart is left to the caller.%n"
     L"/log <file>%tWrite the setup log to this file.%n/uninstall%tRemove the product.%n/?, /help%tShow this "
     L"help.%n%nExit codes: 0 done; 3010 done, restart needed; 1641 restart started; 1602 cancelled; 1603 failed; "
     L"1604 suspended, restart needed and no resume; 1605 not installed; 1618 another installation runs; 1633 not "
     L"for this computer's processor (ARM64); 350 a restart is pending; 87 a switch is not known or lacks its value."},
    {kIdsRestartQuestion, L"The setup of %1 needs a restart of Windows to finish.%n%nRestart now? Open programs are "
                          L"asked to save their work first.%nChoose No to restart later yourself."},
    {kIdsFileOtherRelease, L"The setup was stopped: a file of the product is not the one of this release (%1) and "
                           L"was not used.%n%n%2%n%nVersion of the file: %3 (%4)"},
    {kIdsFileNotChecked, L"The setup was stopped: a file of the product could not be checked and was not "
                         L"used.%n%n%1%n%n%2 (%3)"},
    {kIdsNotForThisProcessor, L"The QX Prism P4000 Series printer driver cannot be installed on this computer: it is "
                              L"a driver for x64 processors, and this computer has an ARM64 processor, which cannot "
                              L"use it.%n%nNothing was installed."},
};

// ENGLISH FALLBACK ONLY, of string 15002: the shorter text a launcher
// without the resource module has always shown.
inline constexpr wchar_t kPendingRebootFallback[] =
    L"A restart of this computer is pending. Please restart the computer, then start the setup again.";

// The fallback of a string id; null for one without (15016: the
// error-reporting module then shows its own text).
inline const wchar_t* EnglishFallbackText(unsigned id) {
    for (const EnglishFallback& entry : kEnglishFallbacks)
        if (entry.id == id) return entry.text;
    return nullptr;
}

// String id of the resource module in the person's language with its
// inserts filled in; the module's English, then the fallback above, where
// that language's text, or the module itself, is missing.
inline std::wstring ProductText(HMODULE resModule, unsigned id, std::initializer_list<const wchar_t*> inserts = {}) {
    return qx::LocalizedText(resModule, id, EnglishFallbackText(id), inserts);
}
// The same text in English, for the log (8-bit text, which would turn
// most other scripts into question marks).
inline std::wstring ProductTextForLog(HMODULE resModule, unsigned id,
                                      std::initializer_list<const wchar_t*> inserts = {}) {
    return qx::LocalizedText(resModule, id, EnglishFallbackText(id), inserts, qx::TextFor::kLog);
}
