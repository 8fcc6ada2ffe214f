#pragma once
// The one installation the setup window hands the install worker, as the
// window found it. The worker owns its request and reads nothing else of
// the window's.
#include <string>

#include "framework/FileSignature.h"
#include "framework/Ownership.h"
#include "framework/SyncObjects.h"

struct InstallRequest {
    // The window's lock record, held while the hourglass is wanted. The
    // window keeps it, and the mailbox, until the worker has ended.
    UiLock* lock = nullptr;
    // Where the worker hands the window a handle to its mutex.
    qx::HandleMailbox* workerMutex = nullptr;
    // The product: the cache folder's two levels, the source record's key.
    std::wstring manufacturer;
    std::wstring productName;
    std::wstring productCode;
    // The package found, checked and held until the installation has
    // ended; absent when nothing is installed from a package (a removal, a
    // resume whose source is gone with the product installed).
    qx::CheckedFile package;
    // The folder the package came from, with its trailing backslash: what
    // the source record names. Empty with no package.
    std::wstring packageFolder;
};
