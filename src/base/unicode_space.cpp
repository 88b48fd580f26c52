#include "base/unicode_space.hpp"

#include <algorithm>
#include <array>

namespace olvex {

namespace {

// The White_Space characters in UTF-8. Matching whole encodings is enough at
// either end of the text: in valid UTF-8 a lead byte always begins a character,
// so an encoding found at the end is a character of its own, never the tail of
// a longer one.
constexpr std::array<std::string_view, 25> WHITE_SPACE = {
    // U+0009..U+000D and U+0020
    "\x09", "\x0A", "\x0B", "\x0C", "\x0D", "\x20",
    // NEXT LINE, NO-BREAK SPACE, OGHAM SPACE MARK
    "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80",
    // EN QUAD..HAIR SPACE (U+2000..U+200A)
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    // LINE SEPARATOR, PARAGRAPH SEPARATOR, NARROW NO-BREAK SPACE, MEDIUM
    // MATHEMATICAL SPACE, IDEOGRAPHIC SPACE
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

std::size_t leading_space_length(std::string_view text) noexcept {
    const auto found =
        std::ranges::find_if(WHITE_SPACE, [&](std::string_view space) { return text.starts_with(space); });
    return found == WHITE_SPACE.end() ? 0 : found->size();
}

std::size_t trailing_space_length(std::string_view text) noexcept {
    const auto found = std::ranges::find_if(WHITE_SPACE, [&](std::string_view space) { return text.ends_with(space); });
    return found == WHITE_SPACE.end() ? 0 : found->size();
}

}  // namespace

std::string_view trim_unicode_whitespace(std::string_view utf8) noexcept {
    while (const std::size_t length = leading_space_length(utf8)) utf8.remove_prefix(length);
    while (const std::size_t length = trailing_space_length(utf8)) utf8.remove_suffix(length);
    return utf8;
}

}  // namespace olvex
