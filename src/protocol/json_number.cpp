#include "protocol/json_number.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

namespace olvex::protocol {
namespace {

// Significant digits d1 d2 ... dn of a non-zero value d1.d2...dn * 10^exponent.
struct Decimal {
    std::array<char, 24> digits{};
    std::size_t size = 0;
    int exponent = 0;

    [[nodiscard]] std::string_view text() const { return {digits.data(), size}; }
};

// to_chars in scientific form gives the shortest round-trip digits as
// "d.ddde+XX"; the layout is then ours to choose.
Decimal decompose(double magnitude) {
    std::array<char, 32> buffer{};
    const auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, std::chars_format::scientific);
    (void)error;  // 32 bytes hold any double in this form

    Decimal decimal;
    const char* cursor = buffer.data();
    for (; *cursor != 'e'; ++cursor) {
        if (*cursor != '.') decimal.digits[decimal.size++] = *cursor;
    }
    ++cursor;
    if (*cursor == '+') ++cursor;
    std::from_chars(cursor, end, decimal.exponent);
    return decimal;
}

void write_plain(const Decimal& decimal, std::string& out) {
    const std::string_view digits = decimal.text();
    if (decimal.exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-decimal.exponent - 1), '0');
        out += digits;
        return;
    }
    const auto integral = static_cast<std::size_t>(decimal.exponent) + 1;
    if (integral >= digits.size()) {
        out += digits;
        out.append(integral - digits.size(), '0');
        out += ".0";
        return;
    }
    out += digits.substr(0, integral);
    out += '.';
    out += digits.substr(integral);
}

void write_exponent(const Decimal& decimal, std::string& out) {
    const std::string_view digits = decimal.text();
    out += digits.front();
    if (digits.size() > 1) {
        out += '.';
        out += digits.substr(1);
    }
    out += 'e';
    std::array<char, 8> exponent{};
    const auto [end, error] = std::to_chars(exponent.data(), exponent.data() + exponent.size(), decimal.exponent);
    (void)error;
    out.append(exponent.data(), end);
}

}  // namespace

void format_json_number(double value, std::string& out) {
    if (!std::isfinite(value)) {
        out += "0.0";
        return;
    }
    // Negative zero keeps its sign: "-0.0" reads back as the same double.
    if (std::signbit(value)) out += '-';
    if (value == 0.0) {
        out += "0.0";
        return;
    }
    const Decimal decimal = decompose(std::fabs(value));
    if (decimal.exponent >= -5 && decimal.exponent < 16) {
        write_plain(decimal, out);
    } else {
        write_exponent(decimal, out);
    }
}

}  // namespace olvex::protocol
