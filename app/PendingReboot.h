#pragma once
#include <windows.h>

#include <string>

// True when the product's pending-reboot key can be opened; any failure to
// open it counts as no reboot pending. The key is never created or deleted.
bool IsRebootPending();

// The pending-reboot text: string 15002 of the resource module as a message
// definition in the user's interface language, lines wrapped at 60
// characters. The English one stands in when it is missing or cannot be
// formatted.
std::wstring FormatPendingRebootText(HMODULE resModule);
// The same text in English, for the log: the module's English, or a fixed
// English text when the module is missing or lacks it.
std::wstring PendingRebootTextForLog(HMODULE resModule);

// A message definition formatted without arguments: %n breaks a line,
// inserts such as %1 are passed through, lines are wrapped at 60
// characters. Empty when it cannot be formatted.
std::wstring FormatMessageDefinition(const std::wstring& definition);
