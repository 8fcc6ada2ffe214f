#pragma once
// Public installer properties given on the command line ("INSTALLDIR=D:\x",
// "ADDLOCAL=ALL", "TRANSFORMS=site.mst"): passed on to the installer by the
// install-actions module, and carried into the resume command after a
// restart. Read by the launcher and the install-actions module.
#include <string>
#include <vector>

#include "framework/CommandLine.h"

struct PublicProperty {
    std::wstring name;
    std::wstring value;
};

// The names of the product's own switches: never an installer property.
inline bool IsOwnSwitchName(const std::wstring& name) {
    for (const wchar_t* own : {L"CALLER", L"RUNONCE", L"AFTERREBOOT", L"QUIET", L"NORESTART", L"UNINSTALL", L"LOG",
                               L"PASSIVE", L"PACKAGE"})
        if (name == own) return true;
    return false;
}

// The product's own switches whose value is a path of the caller's or the
// launcher's choosing: a value, never searched for switches.
inline bool IsOwnValueSwitchName(const std::wstring& name) { return name == L"LOG" || name == L"PACKAGE"; }

// A public property's name: upper-case letters, digits, '_' and '.', the
// first a letter or '_'.
inline bool IsPublicPropertyName(const std::wstring& name) {
    if (name.empty() || !((name[0] >= L'A' && name[0] <= L'Z') || name[0] == L'_')) return false;
    for (wchar_t c : name)
        if (!((c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' || c == L'.')) return false;
    return true;
}

// Each whole argument "NAME=value" of the tail (split as Windows' programs
// split theirs) whose NAME is a public property and not a switch of the
// product's own, in their order.
inline std::vector<PublicProperty> PublicProperties(const wchar_t* tail) {
    std::vector<PublicProperty> found;
    for (const std::wstring& argument : qx::SplitArguments(tail ? tail : L"")) {
        const size_t eq = argument.find(L'=');
        if (eq == std::wstring::npos) continue;
        PublicProperty property{argument.substr(0, eq), argument.substr(eq + 1)};
        if (IsPublicPropertyName(property.name) && !IsOwnSwitchName(property.name)) found.push_back(property);
    }
    return found;
}

// Whether the log shows a property's value: not for names ending in
// PASSWORD or KEY.
inline bool IsSecretProperty(const std::wstring& name) {
    const auto endsWith = [&name](const std::wstring& end) {
        return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
    };
    return endsWith(L"PASSWORD") || endsWith(L"KEY");
}

// In the installer's own quoting, as MsiInstallProductW takes them: a
// value that is empty or holds a blank or a quote is quoted, '"' doubled.
// forLog shows the values of secret properties as *****.
inline std::wstring InstallerPropertyText(const std::vector<PublicProperty>& properties, bool forLog = false) {
    std::wstring text;
    for (const PublicProperty& p : properties) {
        if (!text.empty()) text += L' ';
        text += p.name + L'=';
        if (forLog && IsSecretProperty(p.name)) {
            text += L"*****";
            continue;
        }
        const bool quote = p.value.empty() || p.value.find_first_of(L" \t\"") != std::wstring::npos;
        if (quote) text += L'"';
        for (wchar_t c : p.value) {
            text += c;
            if (c == L'"') text += L'"';
        }
        if (quote) text += L'"';
    }
    return text;
}

// One argument quoted as Windows' programs split it back: whole, backslashes
// before a quote doubled, a quote escaped; as it stands when it needs none.
inline std::wstring QuotedArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(2 * backslashes, L'\\');
    return text + L'"';
}

// As arguments of a command line (the resume command).
inline std::wstring CommandLinePropertyText(const std::vector<PublicProperty>& properties) {
    std::wstring text;
    for (const PublicProperty& p : properties) {
        if (!text.empty()) text += L' ';
        text += QuotedArgument(p.name + L'=' + p.value);
    }
    return text;
}

// An argument tail as the log may show it: as it stands, or, when it holds
// a secret property, its arguments again with each secret's value *****.
inline std::wstring TailForLog(const wchar_t* tail) {
    const std::vector<std::wstring> arguments = qx::SplitArguments(tail ? tail : L"");
    bool secret = false;
    std::wstring text;
    for (const std::wstring& argument : arguments) {
        const size_t eq = argument.find(L'=');
        const std::wstring name = eq == std::wstring::npos ? L"" : argument.substr(0, eq);
        const bool hide = IsPublicPropertyName(name) && !IsOwnSwitchName(name) && IsSecretProperty(name);
        secret = secret || hide;
        if (!text.empty()) text += L' ';
        text += hide ? name + L"=*****" : QuotedArgument(argument);
    }
    return secret ? text : std::wstring(tail ? tail : L"");
}
