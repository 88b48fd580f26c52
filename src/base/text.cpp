#include "base/text.hpp"

#include <algorithm>
#include <cstdint>

#include "base/utf16.hpp"

namespace olvex {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// One step of UTF-8 decoding: the code point (REPLACEMENT for an ill-formed
// subsequence) and how many bytes it used.
struct Decoded {
    char32_t code_point;
    std::size_t length;
};

bool in_range(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

// The accepted range of the second byte depends on the first (Unicode table 3-7);
// every later byte is 80..BF.
Decoded decode_one(std::string_view in, std::size_t at) {
    const auto lead = static_cast<unsigned char>(in[at]);
    if (lead < 0x80) return {lead, 1};
    std::size_t need = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t cp = 0;
    if (in_range(lead, 0xC2, 0xDF)) {
        need = 1;
        cp = lead & 0x1Fu;
    } else if (in_range(lead, 0xE0, 0xEF)) {
        need = 2;
        cp = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (in_range(lead, 0xF0, 0xF4)) {
        need = 3;
        cp = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {REPLACEMENT, 1};
    }
    std::size_t used = 1;
    for (; used <= need; ++used) {
        if (at + used >= in.size()) return {REPLACEMENT, used};
        const auto next = static_cast<unsigned char>(in[at + used]);
        if (!in_range(next, low, high)) return {REPLACEMENT, used};
        low = 0x80;
        high = 0xBF;
        cp = (cp << 6) | (next & 0x3Fu);
    }
    return {cp, used};
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::u16string utf8_to_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const Decoded d = decode_one(utf8, at);
        at += d.length;
        append_utf16(out, d.code_point);
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t at = 0; at < utf16.size(); ++at) {
        const char16_t unit = utf16[at];
        if (is_high_surrogate(unit) && at + 1 < utf16.size() && is_low_surrogate(utf16[at + 1])) {
            append_utf8(out, combine_surrogates(unit, utf16[at + 1]));
            ++at;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(out, REPLACEMENT);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

std::string sanitize_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const Decoded d = decode_one(bytes, at);
        out.append(d.code_point == REPLACEMENT ? REPLACEMENT_CHARACTER : bytes.substr(at, d.length));
        at += d.length;
    }
    return out;
}

std::string ascii_to_lower(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), ascii_lower);
    return out;
}

bool ascii_iequals(std::string_view a, std::string_view b) noexcept {
    return std::ranges::equal(a, b, [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

}  // namespace olvex
