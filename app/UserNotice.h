#pragma once
// What the user is told when setup stops before the installation: a message
// box, or in a quiet run ERROR records in the log, since nobody is there to
// dismiss a box and an unattended run must never wait for a click.
#include <windows.h>

#include <string>

void TellUser(const std::wstring& text);

// The switches and exit codes, in the product's help box (string 15030 of
// the resource module, resModule); the caller shows it only when a person
// is there to read it.
void ShowHelp(HMODULE resModule);
