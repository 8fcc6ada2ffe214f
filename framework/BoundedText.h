#pragma once
// Copies, appends and formats into fixed wide buffers. Every result is cut
// to fit its buffer and always terminated; nothing is ever written past it.
#include <windows.h>
#include <cstdarg>
#include <cstddef>
#include <stdio.h>

namespace qx {

// Length of a text, never reading more than max characters.
inline size_t BoundedLength(const wchar_t* text, size_t max) {
    size_t n = 0;
    if (text) while (n < max && text[n]) ++n;
    return n;
}

// Copies src into dst (capacity in characters, terminator included).
// Returns false when the text had to be cut.
inline bool BoundedCopy(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (!dst || capacity == 0) return false;
    size_t n = 0;
    if (src) {
        while (n + 1 < capacity && src[n]) { dst[n] = src[n]; ++n; }
    }
    dst[n] = L'\0';
    return !src || src[n] == L'\0';
}

// Appends src to the terminated text in dst. Returns false when cut.
inline bool BoundedAppend(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (!dst || capacity == 0) return false;
    size_t used = BoundedLength(dst, capacity);
    if (used == capacity) { dst[capacity - 1] = L'\0'; return false; }
    return BoundedCopy(dst + used, capacity - used, src);
}

// Formats with the Microsoft meaning of the conversions (%s takes a wide
// string). Returns the length written, or -1 when the text did not fit;
// in that case dst holds the text cut to capacity - 1 characters.
inline int BoundedFormatV(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args) {
    if (!dst || capacity == 0) return -1;
    if (!format) { dst[0] = L'\0'; return 0; }
    int n = _vsnwprintf(dst, capacity, format, args);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        dst[capacity - 1] = L'\0';
        return -1;
    }
    return n;
}

inline int BoundedFormat(wchar_t* dst, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = BoundedFormatV(dst, capacity, format, args);
    va_end(args);
    return n;
}

}  // namespace qx
