#pragma once

#include <string>
#include <string_view>

namespace olvex {

// Lower-cases UTF-8 text by the Unicode case mappings, one code point at a
// time, as the system's own case tables have them (so results outside the
// common scripts may differ a little between systems). Ill-formed input is
// first made valid as sanitize_utf8 does, so its U+FFFD stay in the result.
[[nodiscard]] std::string unicode_lowercase(std::string_view utf8);

}  // namespace olvex
