#include "base/text_case.hpp"

#include <locale.h>
#include <wctype.h>

#include <string>

#include "base/text.hpp"
#include "base/utf16.hpp"

namespace olvex {

namespace {

// C.UTF-8 has the full Unicode case tables and, unlike the user's locale, is
// the same everywhere; it is made once and kept for the life of the process.
// Null where the C library lacks it.
locale_t utf8_locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

char32_t lower(char32_t code_point, locale_t locale) {
    if (locale == nullptr) return code_point >= U'A' && code_point <= U'Z' ? code_point + (U'a' - U'A') : code_point;
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(code_point), locale));
}

}  // namespace

// utf8_to_utf16 replaces ill-formed input by the same rule as sanitize_utf8,
// and leaves no unpaired surrogate, so walking it by pairs visits every code
// point.
std::string unicode_lowercase(std::string_view utf8) {
    const std::u16string text = utf8_to_utf16(utf8);
    const locale_t locale = utf8_locale();
    std::u16string lowered;
    lowered.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t code_point = text[at];
        if (is_high_surrogate(text[at]) && at + 1 < text.size() && is_low_surrogate(text[at + 1])) {
            code_point = combine_surrogates(text[at], text[at + 1]);
            ++at;
        }
        append_utf16(lowered, lower(code_point, locale));
    }
    return utf16_to_utf8(lowered);
}

}  // namespace olvex
