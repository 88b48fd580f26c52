#include "protocol/messages.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <exception>
#include <fmt/format.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "log/log.hpp"
#include "protocol/json_number.hpp"

namespace olvex::protocol {
namespace {

constexpr std::array<std::string_view, std::variant_size_v<HostMessage>> KIND_NAMES = {
    "hello", "now_playing", "art", "volume", "lock",
};

constexpr std::string_view HEX_DIGITS = "0123456789abcdef";

// Bytes that cannot stand for themselves inside a JSON string. A table lookup
// in find_if keeps the scan over the 21.9 kB art text cheap.
constexpr std::array<bool, 256> NEEDS_ESCAPE = [] {
    std::array<bool, 256> table{};
    for (std::size_t byte = 0; byte < 0x20; ++byte) table[byte] = true;
    table['"'] = true;
    table['\\'] = true;
    return table;
}();

void write_escape(unsigned char byte, std::string& out) {
    switch (byte) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\b': out += "\\b"; return;
        case '\t': out += "\\t"; return;
        case '\n': out += "\\n"; return;
        case '\f': out += "\\f"; return;
        case '\r': out += "\\r"; return;
        default:
            out += "\\u00";
            out += HEX_DIGITS[byte >> 4U];
            out += HEX_DIGITS[byte & 0xFU];
    }
}

// Bytes are copied in runs; only '"', '\\' and control bytes below 0x20 are
// escaped. Everything else, 0x7F and UTF-8 sequences included, goes as is.
void write_string(std::string_view text, std::string& out) {
    const auto needs_escape = [](char byte) { return NEEDS_ESCAPE[static_cast<unsigned char>(byte)]; };
    out += '"';
    auto run_start = text.begin();
    for (;;) {
        const auto stop = std::find_if(run_start, text.end(), needs_escape);
        out.append(run_start, stop);
        if (stop == text.end()) break;
        write_escape(static_cast<unsigned char>(*stop), out);
        run_start = stop + 1;
    }
    out += '"';
}

// What one byte of text costs once written inside a JSON string.
std::size_t escaped_size(unsigned char byte) {
    if (!NEEDS_ESCAPE[byte]) return 1;
    switch (byte) {
        case '"': case '\\': case '\b': case '\t': case '\n': case '\f': case '\r': return 2;
        default: return 6;
    }
}

bool starts_code_point(unsigned char byte) { return (byte & 0xC0U) != 0x80U; }

void write_name(std::string_view name, std::string& out) {
    out += ",\"";
    out += name;
    out += "\":";
}

void write_member(std::string_view name, std::string_view text, std::string& out) {
    write_name(name, out);
    write_string(text, out);
}

void write_member(std::string_view name, double number, std::string& out) {
    write_name(name, out);
    format_json_number(number, out);
}

void write_member(std::string_view name, bool flag, std::string& out) {
    write_name(name, out);
    out += flag ? "true" : "false";
}

std::string_view status_name(PlaybackStatus status) {
    switch (status) {
        case PlaybackStatus::playing: return "playing";
        case PlaybackStatus::paused: return "paused";
        case PlaybackStatus::stopped: return "stopped";
        case PlaybackStatus::none: return "none";
    }
    throw std::invalid_argument(fmt::format("playback status {} is out of range", static_cast<int>(status)));
}

void write_members(const Hello& /*hello*/, std::string& /*out*/) {}

void write_members(const NowPlaying& playing, std::string& out) {
    write_member("status", status_name(playing.status), out);
    write_member("title", bounded_text(playing.title), out);
    write_member("artist", bounded_text(playing.artist), out);
    write_member("album", bounded_text(playing.album), out);
    write_member("position_s", playing.position_s, out);
    write_member("duration_s", playing.duration_s, out);
}

void write_members(const Art& art, std::string& out) { write_member("data", art.data, out); }

void write_members(const Volume& volume, std::string& out) {
    write_member("volume", volume.volume, out);
    write_member("muted", volume.muted, out);
}

void write_members(const Lock& lock, std::string& out) { write_member("locked", lock.locked, out); }

// Room for the framing and numbers plus the raw text, so that a line without
// escapes (the art line above all) is built without reallocating.
std::size_t expected_size(const HostMessage& message) {
    constexpr std::size_t FRAMING = 128;
    if (std::holds_alternative<NowPlaying>(message)) return FRAMING + 3 * MAX_TEXT_ENCODED_BYTES;
    if (const auto* art = std::get_if<Art>(&message)) return FRAMING + art->data.size();
    return FRAMING;
}

std::string encode(const HostMessage& message) {
    std::string out;
    out.reserve(expected_size(message));
    out += "{\"event\":";
    write_string(wire_name(message), out);
    std::visit([&out](const auto& kind) { write_members(kind, out); }, message);
    out += "}\n";
    if (out.size() > MAX_LINE_BYTES && !std::holds_alternative<Art>(message)) {
        throw std::length_error(fmt::format("the line of {} bytes is longer than {}", out.size(), MAX_LINE_BYTES));
    }
    return out;
}

}  // namespace

std::string_view wire_name(const HostMessage& message) noexcept { return KIND_NAMES[message.index()]; }

std::string_view wire_name_of_line(std::string_view line) noexcept {
    constexpr std::string_view START = "{\"event\":\"";
    if (!line.starts_with(START)) return {};
    const auto name = line.substr(START.size());
    const auto end = name.find('"');
    return end == std::string_view::npos ? std::string_view{} : name.substr(0, end);
}

std::string_view bounded_text(std::string_view text) noexcept {
    std::size_t chars = 0;
    std::size_t encoded = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        // Every cut falls before the first byte of a code point, so no
        // sequence (and no escape, which stands for one byte) is split.
        if (starts_code_point(byte) && ++chars > MAX_TEXT_CHARS) return text.substr(0, at);
        encoded += escaped_size(byte);
        if (encoded > MAX_TEXT_ENCODED_BYTES) {
            while (at > 0 && !starts_code_point(static_cast<unsigned char>(text[at]))) --at;
            return text.substr(0, at);
        }
    }
    return text;
}

Volume volume_message(float level, bool muted) noexcept {
    // Rounded in percent, where two decimals are all a person reads.
    return Volume{.volume = std::round(static_cast<double>(level) * 10000.0) / 100.0, .muted = muted};
}

std::string encode_host_message(const HostMessage& message) {
    try {
        return encode(message);
    } catch (const std::exception& error) {
        log_message(fmt::format("device: could not encode {}: {}", wire_name(message), error.what()));
        return {};
    }
}

}  // namespace olvex::protocol
