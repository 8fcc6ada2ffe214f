// The application object the launcher's library expects; the unit tests
// set its members where a test needs them.
#include "app/SetupApp.h"

CSetupApp theApp;
