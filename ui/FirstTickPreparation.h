#pragma once
// What the setup window's first tick needs, made ready on threads of their
// own while the tick is awaited: the installer's binding, the program's
// own signature (the crypto libraries load for it), and the checks of the
// companion modules and of the package beside the launcher, each file held
// from its check until it is used.
#include "framework/FileSignature.h"

// Each starts one thread. They log nothing and change no result: whatever
// a thread has not done yet when it is needed is waited for or done then;
// when a thread cannot be started, its part is done at first use as before.
// The checks start as soon as the launcher runs (the crypto libraries take
// longer to load than the setup window takes to appear), the installer's
// binding when the setup window opens.
void CheckProductFilesInBackground();
void BindInstallerInBackground();

// The package at path, checked against the program's signature and held:
// the check made ahead when it was made for this path, otherwise one now.
qx::CheckedFile TakePackageCheck(const wchar_t* path);
