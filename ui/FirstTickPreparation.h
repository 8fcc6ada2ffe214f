#pragma once
// What the setup window's first tick needs, made ready on threads of their
// own while the tick is awaited: the installer's binding, the program's
// own signature (the crypto libraries load for it), and the checks of the
// companion modules and of the package beside the launcher, each file held
// from its check until it is used.
#include "framework/FileSignature.h"

// Starts the threads. Logs nothing and changes no result: whatever they
// have not done yet when the tick needs it is waited for or done then; when
// a thread cannot be started, its part is done at first use as before.
void PrepareFirstTickInBackground();

// The package at path, checked against the program's signature and held:
// the check made ahead when it was made for this path, otherwise one now.
qx::CheckedFile TakePackageCheck(const wchar_t* path);
