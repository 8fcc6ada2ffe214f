#pragma once
// What the user is told when setup stops before the installation: a message
// box, or in a quiet or passive run ERROR records in the log, since nobody is there to
// dismiss a box and an unattended run must never wait for a click. The log
// is English: textForLog is the same text in English (or the system's text
// as it came).
#include <windows.h>

#include <string>

void TellUser(const std::wstring& text, const std::wstring& textForLog);

// The switches and exit codes, in the product's help box (string 15030 of
// the resource module, resModule); the caller shows it only when a person
// is there to read it.
void ShowHelp(HMODULE resModule);
