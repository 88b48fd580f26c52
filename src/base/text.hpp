#pragma once

#include <string>
#include <string_view>

namespace olvex {

// The Unicode replacement character, U+FFFD, in UTF-8.
inline constexpr std::string_view REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";

// Converts UTF-8 to UTF-16. Each maximal ill-formed subsequence of the input
// becomes one U+FFFD, as WHATWG and Unicode recommend.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view utf8);

// Converts UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16_to_utf8(std::u16string_view utf16);

// Returns `bytes` as valid UTF-8, with the same replacement rule as utf8_to_utf16.
[[nodiscard]] std::string sanitize_utf8(std::string_view bytes);

// Lower-cases A to Z only; every other byte stays as it is.
[[nodiscard]] std::string ascii_to_lower(std::string_view text);

// Equality that ignores the case of A to Z only.
[[nodiscard]] bool ascii_iequals(std::string_view a, std::string_view b) noexcept;

}  // namespace olvex
