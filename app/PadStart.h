#pragma once

// Starts "Setup.exe" from the launcher's own folder with its quoted full path
// as the whole command line, and does not wait for it. A failure to start
// is not reported: the "Pad : " log line is the only trace. A Pad that the
// check against the launcher's signature refuses is not started: the
// refusal is reported and the result is false.
bool StartPad();
