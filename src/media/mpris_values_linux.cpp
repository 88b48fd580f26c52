#include "media/mpris_values_linux.hpp"

#include <limits>

namespace olvex::media::mpris {

namespace {

constexpr std::string_view PLAYERCTLD_PREFIX = "org.mpris.MediaPlayer2.playerctld";
constexpr std::string_view INSTANCE_PREFIX = ".instance";
constexpr std::int64_t TICKS_PER_MICROSECOND = 10;

std::optional<int> hex_value(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return std::nullopt;
}

// A NUL, decoded or not, could never name a file, so it counts as malformed.
std::optional<std::string> percent_decoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\0') return std::nullopt;
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const auto high = hex_value(text[i + 1]);
        const auto low = hex_value(text[i + 2]);
        if (!high || !low || (*high == 0 && *low == 0)) return std::nullopt;
        decoded += static_cast<char>(*high * 16 + *low);
        i += 2;
    }
    return decoded;
}

// The path part of a file URL: "file:///p", "file://localhost/p" or "file:/p".
std::optional<std::string_view> file_url_path(std::string_view url) {
    constexpr std::string_view SCHEME = "file:";
    if (url.size() < SCHEME.size()) return std::nullopt;
    for (std::size_t i = 0; i < SCHEME.size(); ++i) {
        const char c = url[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != SCHEME[i]) return std::nullopt;
    }
    std::string_view rest = url.substr(SCHEME.size());
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const auto slash = rest.find('/');
        if (slash == std::string_view::npos) return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && host != "localhost") return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (!rest.starts_with('/')) return std::nullopt;
    // A query or fragment would have to be cut off, and a path with those
    // characters unescaped is more likely a sloppy URL than meant that way.
    if (rest.find_first_of("?#") != std::string_view::npos) return std::nullopt;
    return rest;
}

}  // namespace

bool is_player_bus_name(std::string_view bus_name) {
    return bus_name.starts_with(PLAYER_NAME_PREFIX) && bus_name.size() > PLAYER_NAME_PREFIX.size() &&
           !bus_name.starts_with(PLAYERCTLD_PREFIX);
}

std::string application_id(std::string_view bus_name, std::string_view desktop_entry) {
    if (!desktop_entry.empty()) return std::string(desktop_entry);
    if (bus_name.starts_with(PLAYER_NAME_PREFIX)) bus_name.remove_prefix(PLAYER_NAME_PREFIX.size());
    const auto instance = bus_name.rfind(INSTANCE_PREFIX);
    const bool found = instance != std::string_view::npos && instance > 0;
    if (found && bus_name.find('.', instance + 1) == std::string_view::npos) bus_name = bus_name.substr(0, instance);
    return std::string(bus_name);
}

std::int32_t platform_status(std::string_view playback_status) {
    if (playback_status == "Playing") return 4;
    if (playback_status == "Paused") return 5;
    if (playback_status == "Stopped") return 3;
    return 0;
}

std::string joined_artists(const std::vector<std::string>& artists) {
    std::string joined;
    for (const auto& artist : artists) {
        if (!joined.empty()) joined += ", ";
        joined += artist;
    }
    return joined;
}

TimeSpanTicks ticks_from_microseconds(std::int64_t microseconds) {
    constexpr auto LIMIT = std::numeric_limits<TimeSpanTicks>::max() / TICKS_PER_MICROSECOND;
    if (microseconds > LIMIT) return std::numeric_limits<TimeSpanTicks>::max();
    if (microseconds < -LIMIT) return std::numeric_limits<TimeSpanTicks>::min();
    return microseconds * TICKS_PER_MICROSECOND;
}

std::int64_t microseconds_from_ticks(TimeSpanTicks ticks) {
    // Division rounds towards zero; negative ticks round down like the rest.
    const std::int64_t quotient = ticks / TICKS_PER_MICROSECOND;
    return (ticks < 0 && ticks % TICKS_PER_MICROSECOND != 0) ? quotient - 1 : quotient;
}

std::optional<std::filesystem::path> local_file_path(std::string_view url) {
    const auto path = file_url_path(url);
    if (!path) return std::nullopt;
    auto decoded = percent_decoded(*path);
    if (!decoded) return std::nullopt;
    return std::filesystem::path(std::move(*decoded));
}

}  // namespace olvex::media::mpris
