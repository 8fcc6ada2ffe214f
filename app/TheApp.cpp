#include "app/SetupApp.h"

// The one application object, constructed at program load.
CSetupApp theApp;
