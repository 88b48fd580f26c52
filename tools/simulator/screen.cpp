#include "screen.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <fmt/format.h>

namespace olvex::simulator {
namespace {

// Room kept for the text beside the art, and the gap between them.
constexpr std::size_t TEXT_COLUMNS = 40;
constexpr std::size_t GAP = 2;
constexpr std::size_t SMALLEST_ART = 16;
constexpr std::size_t VOLUME_BAR_COLUMNS = 20;
// Lines above the art (the header) and below it (the keys and the last
// lines the program wrote).
constexpr std::size_t HEADER_ROWS = 2;
constexpr std::size_t COMPANION_ROWS = 3;
constexpr std::size_t KEY_HELP_ROWS = 2;
constexpr std::size_t FOOTER_ROWS = KEY_HELP_ROWS + COMPANION_ROWS;

constexpr std::string_view BOLD = "\x1b[1m";
constexpr std::string_view DIM = "\x1b[2m";
constexpr std::string_view RED = "\x1b[31m";
constexpr std::string_view GREEN = "\x1b[32m";
constexpr std::string_view YELLOW = "\x1b[33m";
constexpr std::string_view CYAN = "\x1b[36m";
constexpr std::string_view RESET = "\x1b[0m";
constexpr std::array<std::string_view, 10> KEY_HELP = {
    "space play/pause", "n next", "p previous", "\u2190/\u2192 10 s", "0-9 seek", "\u2191/\u2193 volume",
    "m mute",           "l lock", "r resync",   "q quit",
};
constexpr std::string_view KEY_GAP = "  ";

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U; }

std::size_t code_points(std::string_view text) {
    return static_cast<std::size_t>(std::ranges::count_if(text, [](char byte) { return !is_continuation(byte); }));
}

std::string styled(std::string_view style, std::string_view text) {
    return fmt::format("{}{}{}", style, text, RESET);
}

std::string status_line(const DeviceState& state) {
    if (!state.has_now_playing) return styled(DIM, "nothing received yet");
    switch (state.now_playing.status) {
        case protocol::PlaybackStatus::playing: return styled(GREEN, "\u25b6 playing");
        case protocol::PlaybackStatus::paused: return styled(YELLOW, "\u23f8 paused");
        case protocol::PlaybackStatus::stopped: return styled(YELLOW, "\u25a0 stopped");
        case protocol::PlaybackStatus::none: return styled(DIM, "no media session");
    }
    return {};
}

std::string position_line(const DeviceState& state, Clock::time_point now, std::size_t columns) {
    const double position = position_at(state, now);
    const double duration = state.now_playing.duration_s;
    const std::string start = format_time(position);
    const std::string end = format_time(duration);
    const std::size_t used = start.size() + end.size() + 2;
    if (columns <= used) return fit_to_width(start + " / " + end, columns);
    const double fraction = duration > 0.0 ? position / duration : 0.0;
    return fmt::format("{} {} {}", start, styled(CYAN, progress_bar(fraction, columns - used)), end);
}

std::string volume_line(const DeviceState& state) {
    if (!state.volume) return styled(DIM, "volume: not reported");
    const double volume = state.volume->volume;
    std::string line = fmt::format("volume {:3.0f} % {}", volume,
                                   styled(CYAN, progress_bar(volume / 100.0, VOLUME_BAR_COLUMNS)));
    if (state.volume->muted) line += " " + styled(RED, "muted");
    return line;
}

std::string lock_line(const DeviceState& state) {
    if (!state.locked) return styled(DIM, "lock: not reported");
    return *state.locked ? styled(YELLOW, "lock: locked to this player") : std::string("lock: unlocked");
}

std::vector<std::string> text_column(const DeviceState& state, Clock::time_point now, std::size_t columns) {
    const protocol::NowPlaying& playing = state.now_playing;
    const auto fit = [columns](std::string_view text) { return fit_to_width(text, columns); };
    std::vector<std::string> lines = {
        styled(BOLD, fit(playing.title)),
        fit(playing.artist),
        styled(DIM, fit(playing.album)),
        "",
        status_line(state),
        position_line(state, now, columns),
        "",
        volume_line(state),
        lock_line(state),
        "",
        styled(DIM, fit(fmt::format("lines: {} accepted, {} refused", state.lines.accepted, state.lines.refused))),
    };
    if (!state.last_sent.empty()) lines.push_back(styled(DIM, fit("sent: " + state.last_sent)));
    if (!state.last_error.empty()) lines.push_back(styled(RED, fit("error: " + state.last_error)));
    return lines;
}

std::vector<std::string> art_column(const DeviceState& state, std::size_t edge) {
    if (edge == 0) return {};
    if (state.art.pixels.empty()) {
        std::vector<std::string> blank(edge / 2, std::string(edge, ' '));
        const std::string label = "(no art)";
        blank[edge / 4] = std::string((edge - label.size()) / 2, ' ') + styled(DIM, label) +
                          std::string(edge - label.size() - (edge - label.size()) / 2, ' ');
        return blank;
    }
    return half_block_lines(scale_down(state.art, edge, edge));
}

// The keys, as many to a line as fit, on at most KEY_HELP_ROWS lines.
std::vector<std::string> key_help_lines(std::size_t columns) {
    std::vector<std::string> lines(1);
    for (const std::string_view item : KEY_HELP) {
        const std::size_t needed = code_points(lines.back()) + KEY_GAP.size() + code_points(item);
        if (!lines.back().empty() && needed > columns && lines.size() < KEY_HELP_ROWS) lines.emplace_back();
        if (!lines.back().empty()) lines.back() += KEY_GAP;
        lines.back() += item;
    }
    for (auto& line : lines) line = styled(DIM, fit_to_width(line, columns));
    return lines;
}

std::string header_line(const DeviceState& state, const ScreenFacts& facts, std::size_t columns) {
    const std::string link = state.hellos == 0 ? "waiting for hello"
                                               : fmt::format("hello answered ({}\u00d7)", state.hellos);
    return styled(BOLD, fit_to_width(fmt::format("OLVEX device simulator \u00b7 {} \u00b7 {}", facts.port, link),
                                     columns));
}

// The art and the text side by side; the art column keeps its width on
// lines below the picture.
std::vector<std::string> body_lines(const DeviceState& state, Clock::time_point now, TerminalSize size) {
    const std::size_t edge = art_edge(size);
    const std::size_t text_columns = edge == 0 ? size.columns : size.columns - edge - GAP;
    const std::vector<std::string> art = art_column(state, edge);
    const std::vector<std::string> text = text_column(state, now, text_columns);
    std::vector<std::string> lines;
    for (std::size_t row = 0; row < std::max(art.size(), text.size()); ++row) {
        std::string line = row < art.size() ? art[row] : std::string(edge, ' ');
        if (edge != 0) line += std::string(GAP, ' ');
        if (row < text.size()) line += text[row];
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace

std::string format_time(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0) seconds = 0.0;
    const auto whole = static_cast<unsigned long long>(std::min(seconds, 1e15));
    if (whole >= 3600) return fmt::format("{}:{:02}:{:02}", whole / 3600, whole / 60 % 60, whole % 60);
    return fmt::format("{}:{:02}", whole / 60, whole % 60);
}

std::string fit_to_width(std::string_view text, std::size_t columns) {
    if (code_points(text) <= columns) return std::string(text);
    if (columns == 0) return {};
    std::size_t kept = 0;
    std::size_t end = 0;
    while (end < text.size()) {
        if (!is_continuation(text[end]) && kept++ == columns - 1) break;
        ++end;
    }
    return std::string(text.substr(0, end)) + "\u2026";
}

std::string progress_bar(double fraction, std::size_t columns) {
    if (!std::isfinite(fraction)) fraction = 0.0;
    const auto filled = static_cast<std::size_t>(std::lround(std::clamp(fraction, 0.0, 1.0) *
                                                             static_cast<double>(columns)));
    std::string bar;
    for (std::size_t cell = 0; cell < columns; ++cell) bar += cell < filled ? "\u2501" : "\u2500";
    return bar;
}

std::size_t art_edge(TerminalSize size) {
    if (size.columns <= TEXT_COLUMNS + GAP || size.rows <= HEADER_ROWS + FOOTER_ROWS) return 0;
    const std::size_t by_width = size.columns - TEXT_COLUMNS - GAP;
    const std::size_t by_height = 2 * (size.rows - HEADER_ROWS - FOOTER_ROWS);
    const std::size_t edge = std::min({by_width, by_height, std::size_t{128}}) / 2 * 2;
    return edge >= SMALLEST_ART ? edge : 0;
}

std::vector<std::string> compose_screen(const DeviceState& state, const ScreenFacts& facts, Clock::time_point now,
                                        TerminalSize size) {
    std::vector<std::string> lines = {header_line(state, facts, size.columns), ""};
    for (auto& line : body_lines(state, now, size)) lines.push_back(std::move(line));
    for (auto& line : key_help_lines(size.columns)) lines.push_back(std::move(line));
    const std::size_t shown = std::min(facts.companion_output.size(), COMPANION_ROWS);
    for (std::size_t i = facts.companion_output.size() - shown; i < facts.companion_output.size(); ++i) {
        lines.push_back(styled(DIM, fit_to_width("\u2502 " + facts.companion_output[i], size.columns)));
    }
    if (lines.size() > size.rows) lines.resize(size.rows);
    return lines;
}

}  // namespace olvex::simulator
