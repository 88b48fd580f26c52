#pragma once

#include <string_view>

namespace olvex {

// `utf8` without the Unicode white space (the characters with the White_Space
// property, U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000) at either end. Characters that only
// look empty, such as U+200B ZERO WIDTH SPACE or U+FEFF, are kept.
[[nodiscard]] std::string_view trim_unicode_whitespace(std::string_view utf8) noexcept;

}  // namespace olvex
