#include "modules/Utilities.h"

Utilities* Utilities::Instance() {
    static Utilities instance;
    return &instance;
}

unsigned Utilities::LoadStringMV(std::wstring& text, HMODULE module, unsigned id) {
    text.clear();
    // With a zero buffer size LoadStringW hands out a read-only pointer to
    // the resource text itself, whatever its length.
    const wchar_t* resource = nullptr;
    int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length > 0 && resource) text.assign(resource, static_cast<size_t>(length));
    return static_cast<unsigned>(text.size());
}
