#pragma once
// Command-line switches. The caller switches (CALLER=SETUP,
// CALLER=COINSTALLER, RUNONCE=YES, AFTERREBOOT=YES) are matched as
// case-sensitive substrings of the arguments (one also counts inside a
// longer word), but never inside the value of a property argument
// ("COMMENTS=CALLER=SETUP" names no caller); the product's other switches
// (QUIET=YES, PASSIVE=YES, NORESTART=YES, UNINSTALL=YES, LOG=<file>) count
// only as whole arguments, so a property's value is never read as one; the
// forms administrators type for other setups are whole arguments too (see
// ReadSwitches).
#include <cwchar>
#include <initializer_list>
#include <string>

#include "framework/CommandLine.h"
#include "res/InstallerProperties.h"

// Who started the launcher: the Pad, or the device co-installer.
inline constexpr wchar_t kSwitchCallerSetup[] = L"CALLER=SETUP", kSwitchCallerCoInstaller[] = L"CALLER=COINSTALLER";
// The Run value's clean-up; the resume after a restart (passed on to the
// install-actions module).
inline constexpr wchar_t kSwitchRunOnce[] = L"RUNONCE=YES", kSwitchAfterReboot[] = L"AFTERREBOOT=YES";
// Unattended runs: no window of the product's at all, and no restart that
// the launcher starts itself.
inline constexpr wchar_t kSwitchQuiet[] = L"QUIET=YES", kSwitchNoRestart[] = L"NORESTART=YES";
// Unattended with progress: the hourglass and the installer's progress, but
// nothing that waits for a click.
inline constexpr wchar_t kSwitchPassive[] = L"PASSIVE=YES";

// Removing the product; the launcher's log written to a file of the
// caller's choosing ("LOG=<file>", one whole argument).
inline constexpr wchar_t kSwitchUninstall[] = L"UNINSTALL=YES", kSwitchLogPrefix[] = L"LOG=";

// The package the launcher found and checked, handed to the install-actions
// module as the first argument of its tail: PACKAGE="<path>". First, so that
// no quote the caller's arguments leave open can take it in; the module
// reads it there only, so a PACKAGE= among the caller's arguments is never
// taken for the launcher's. A module that does not know it finds a property
// of the product's own, which it passes to nobody.
inline constexpr wchar_t kArgumentPackagePrefix[] = L"PACKAGE=";

// The module's tail: the package argument, then the launcher's tail.
inline std::wstring HandOnPackage(const wchar_t* packagePath, const std::wstring& tail) {
    // A path holds no quote.
    std::wstring handed(kArgumentPackagePrefix);
    handed.append(1, L'"').append(packagePath).append(1, L'"');
    if (!tail.empty()) handed.append(1, L' ').append(tail);
    return handed;
}

// The path the launcher handed on, or an empty one when the tail does not
// start with the package argument.
inline std::wstring HandedPackage(const wchar_t* tail) {
    const std::vector<std::wstring> arguments = qx::SplitArguments(tail ? tail : L"");
    if (arguments.empty() || arguments[0].rfind(kArgumentPackagePrefix, 0) != 0) return std::wstring();
    return arguments[0].substr(std::wcslen(kArgumentPackagePrefix));
}

// Whether one of the caller switches is given: anywhere in an argument,
// glued to other characters too, except inside the value of a property
// argument (a public property's NAME=value, NAME not the product's own) or
// of a path switch (LOG=, PACKAGE=).
inline bool HasCallerSwitch(const wchar_t* tail, const wchar_t* sw) {
    if (!tail || !sw || !*sw) return false;
    for (const std::wstring& argument : qx::SplitArguments(tail)) {
        const size_t at = argument.find(sw);
        if (at == std::wstring::npos) continue;
        const size_t eq = argument.find(L'=');
        const std::wstring name = eq == std::wstring::npos ? L"" : argument.substr(0, eq);
        const bool property = IsPublicPropertyName(name) && (!IsOwnSwitchName(name) || IsOwnValueSwitchName(name));
        // The first occurrence starts in the name (or the argument is no
        // property): later ones need not be looked at.
        if (!property || at < eq) return true;
    }
    return false;
}

// Whether text holds one of the product's own KEY=YES forms anywhere: a
// "/" argument that does is the product's, never "not understood".
inline bool HoldsOwnSwitch(const wchar_t* text) {
    for (const wchar_t* own : {kSwitchCallerSetup, kSwitchCallerCoInstaller, kSwitchRunOnce, kSwitchAfterReboot,
                               kSwitchQuiet, kSwitchNoRestart, kSwitchUninstall, kSwitchPassive})
        if (text && std::wcsstr(text, own)) return true;
    return false;
}

// What the switches of a tail ask for, in either form.
struct Switches {
    bool quiet = false;       // QUIET=YES, /quiet, /q, /qn
    bool passive = false;     // PASSIVE=YES, /passive
    bool noRestart = false;   // NORESTART=YES, /norestart
    bool uninstall = false;   // UNINSTALL=YES, /uninstall
    bool help = false;        // /?, /help
    std::wstring logFile;     // LOG=<file>, /log <file>
    // The first argument that is not understood: a "/" argument the product
    // does not know, or a switch that lacks its value. Empty when none.
    std::wstring invalid;
};

// The conventional forms are whole arguments, matched without regard to
// case, with "/" or "-" before them. Arguments that are not switches of the
// product pass on untouched (the caller switches, what the install-actions
// module reads).
inline Switches ReadSwitches(const wchar_t* tail) {
    Switches found;
    const std::vector<std::wstring> arguments = qx::SplitArguments(tail);
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        // The product's own forms, case-sensitive, each a whole argument.
        if (argument == kSwitchQuiet) found.quiet = true;
        if (argument == kSwitchPassive) found.passive = true;
        if (argument == kSwitchNoRestart) found.noRestart = true;
        if (argument == kSwitchUninstall) found.uninstall = true;
        if (argument.rfind(kSwitchLogPrefix, 0) == 0) {
            found.logFile = argument.substr(std::wcslen(kSwitchLogPrefix));
            if (found.logFile.empty() && found.invalid.empty()) found.invalid = argument;
            continue;
        }
        if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) continue;
        const wchar_t* name = argument.c_str() + 1;
        const auto is = [name](const wchar_t* form) { return _wcsicmp(name, form) == 0; };
        if (is(L"quiet") || is(L"q") || is(L"qn")) {
            found.quiet = true;
        } else if (is(L"passive")) {
            found.passive = true;
        } else if (is(L"norestart")) {
            found.noRestart = true;
        } else if (is(L"uninstall")) {
            found.uninstall = true;
        } else if (is(L"?") || is(L"help")) {
            found.help = true;
        } else if (is(L"log")) {
            if (i + 1 < arguments.size() && !arguments[i + 1].empty()) {
                found.logFile = arguments[++i];
            } else if (found.invalid.empty()) {
                found.invalid = argument;
            }
        } else if (argument[0] == L'/' && found.invalid.empty() && !HoldsOwnSwitch(argument.c_str())) {
            found.invalid = argument;
        }
    }
    return found;
}
