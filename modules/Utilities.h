#pragma once
// "CustomActionData64.dll": string loading for the launcher.
#include <windows.h>

#include <string>

#include "modules/ModuleExport.h"

class QX_UTILITIES_API Utilities {
public:
    // The module's single object.
    static Utilities* Instance();
    // Fills text with string id of module (null: the calling executable).
    // Returns the number of characters; text is empty when there is none.
    unsigned LoadStringMV(std::wstring& text, HMODULE module, unsigned id);

private:
    Utilities() = default;
};
