#pragma once

// Surrogate pairs, for UTF-16 held as char16_t and as Windows' wchar_t alike:
// the system's wide strings are UTF-16 too, and both sides must agree on what
// a well-formed pair is.

#include <concepts>

namespace olvex {

template <class Unit>
concept Utf16Unit = std::same_as<Unit, char16_t> || std::same_as<Unit, wchar_t>;

template <Utf16Unit Unit>
[[nodiscard]] constexpr bool is_high_surrogate(Unit unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

template <Utf16Unit Unit>
[[nodiscard]] constexpr bool is_low_surrogate(Unit unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The code point of a high surrogate followed by a low one; the caller has
// checked that they are.
template <Utf16Unit Unit>
[[nodiscard]] constexpr char32_t combine_surrogates(Unit high, Unit low) {
    return 0x10000 + ((static_cast<char32_t>(high) - 0xD800u) << 10) + (static_cast<char32_t>(low) - 0xDC00u);
}

// Appends `code_point` as one unit, or as a surrogate pair above U+FFFF. A
// lone surrogate code point goes in as it is.
template <class String>
    requires Utf16Unit<typename String::value_type>
void append_utf16(String& out, char32_t code_point) {
    using Unit = typename String::value_type;
    if (code_point < 0x10000) {
        out += static_cast<Unit>(code_point);
        return;
    }
    const char32_t offset = code_point - 0x10000;
    out += static_cast<Unit>(0xD800 + (offset >> 10));
    out += static_cast<Unit>(0xDC00 + (offset & 0x3FF));
}

}  // namespace olvex
