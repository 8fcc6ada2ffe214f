#pragma once
// What the user is told when setup stops before the installation: a message
// box, or in a quiet run ERROR records in the log, since nobody is there to
// dismiss a box and an unattended run must never wait for a click. The log
// is English: textForLog is the same text in English (or the system's text
// as it came).
#include <string>

void TellUser(const std::wstring& text, const std::wstring& textForLog);
