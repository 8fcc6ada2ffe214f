#include "modules/Utilities.h"

#include "framework/ResourceText.h"

Utilities* Utilities::Instance() {
    static Utilities instance;
    return &instance;
}

unsigned Utilities::LoadStringMV(std::wstring& text, HMODULE module, unsigned id) {
    // In the user's interface language, English where that language lacks
    // the string.
    text = qx::LocalizedString(module, id);
    return static_cast<unsigned>(text.size());
}
