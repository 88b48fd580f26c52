#include "base/text_case.hpp"

#include <windows.h>

#include <climits>
#include <string>

#include "base/text.hpp"

namespace olvex {

// The invariant locale: the same mapping whatever the user's language, which
// is what comparing identifiers needs (no Turkish dotless i). utf8_to_utf16
// replaces ill-formed input by the same rule as sanitize_utf8.
std::string unicode_lowercase(std::string_view utf8) {
    const std::u16string text = utf8_to_utf16(utf8);
    if (text.empty() || text.size() > INT_MAX) return ascii_to_lower(utf16_to_utf8(text));
    const auto* source = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int needed =
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, source, length, nullptr, 0, nullptr, nullptr, 0);
    if (needed <= 0) return ascii_to_lower(utf16_to_utf8(text));
    std::u16string lowered(static_cast<std::size_t>(needed), u'\0');
    const int written = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, source, length,
                                      reinterpret_cast<wchar_t*>(lowered.data()), needed, nullptr, nullptr, 0);
    if (written <= 0) return ascii_to_lower(utf16_to_utf8(text));
    lowered.resize(static_cast<std::size_t>(written));
    return utf16_to_utf8(lowered);
}

}  // namespace olvex
