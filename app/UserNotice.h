#pragma once
// What the user is told when setup stops before the installation: a message
// box, or in a quiet run ERROR records in the log, since nobody is there to
// dismiss a box and an unattended run must never wait for a click.
#include <string>

void TellUser(const std::wstring& text);
