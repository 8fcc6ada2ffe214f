#pragma once

// Starts "Setup.exe" from the launcher's own folder with its quoted full path
// as the whole command line, and does not wait for it. No failure is
// detected or reported: the "Pad : " log line is the only trace.
void StartPad();
