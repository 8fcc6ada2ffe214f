// Writes the launcher's RunOnce entry for the folder given as argument, the
// same way the install worker does; used by the restart test around Wine.
#include <string>

#include "worker/RunOnce.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    SetRunOnceEntry(argv[1]);
    return 0;
}
