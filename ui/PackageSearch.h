#pragma once
// The one place that finds the product's package for an installation:
// beside the launcher; then, in a run nobody answers prompts for or in a
// resume after a restart, the recorded source folder, without a window;
// for a resume whose source is gone while the product is installed, the
// installed product's information (nothing is left to install); then the
// disc prompt, for a person. What it finds is checked as a file of the
// product and held, with its folder and its product information, for the
// worker to be handed.
#include <windows.h>

#include <string>

#include "framework/FileSignature.h"
#include "ui/ProductInfo.h"

struct FoundPackage {
    enum class Outcome {
        kFound,              // file, folder and the three texts
        kNothingToInstall,   // the installed product's texts, no file
        kCancelled,          // the person cancelled the disc prompt
        kRefused,            // the check refused it; reported in the launcher's box
        kFailed,             // not found, or not readable: failure holds the code, logged
    };
    Outcome outcome = Outcome::kFailed;
    DWORD failure = ERROR_FILE_NOT_FOUND;
    qx::CheckedFile file;
    // The package's folder by the path the held file resolves to, with its
    // trailing backslash.
    std::wstring folder;
    wchar_t productName[kProductNameCapacity] = {};
    wchar_t productCode[kProductCodeCapacity] = {};
    wchar_t manufacturer[kManufacturerCapacity] = {};
};

// owner: the window the disc prompt belongs to. noPrompts: nobody answers
// one (a quiet or passive run, or a session nobody sees). resumed: the run
// after a restart.
FoundPackage FindPackage(HWND owner, bool noPrompts, bool resumed);
