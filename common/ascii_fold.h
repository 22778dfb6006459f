// The one case rule of folder keys and watched paths: the letters A to Z (U+0041 to U+005A)
// become a to z; every other character, non-ASCII letters included, is left as it is. Locale
// independent, so a key made on one thread matches a key made on any other.
#pragma once

#include <cstddef>

namespace tvn {

constexpr wchar_t FoldAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

// Folds `length` units of `text` in place.
inline void FoldAsciiInPlace(wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        text[i] = FoldAscii(text[i]);
    }
}

// Folds a zero-terminated text in place; returns its length.
inline size_t FoldAsciiInPlace(wchar_t* text) {
    size_t length = 0;
    for (; text[length] != 0; ++length) {
        text[length] = FoldAscii(text[length]);
    }
    return length;
}

// Two zero-terminated texts equal under the fold.
inline bool EqualFoldingAscii(const wchar_t* a, const wchar_t* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b)) {
            return false;
        }
    }
    return *a == *b;
}

}  // namespace tvn
