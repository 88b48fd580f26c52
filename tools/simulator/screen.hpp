#pragma once

// The simulator's screen: what the device would show, laid out for a
// terminal of a given size, as lines with colour escapes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "device_state.hpp"

namespace olvex::simulator {

// Facts about the simulator itself that the screen shows.
struct ScreenFacts {
    std::string port;
    // The last lines the program started with --run wrote, oldest first.
    std::vector<std::string> companion_output;
};

struct TerminalSize {
    std::size_t columns = 80;
    std::size_t rows = 24;
};

// "m:ss", or "h:mm:ss" from an hour on; negative and non-finite values as 0.
[[nodiscard]] std::string format_time(double seconds);

// `text` cut to at most `columns` characters (code points), ending in "…"
// when cut.
[[nodiscard]] std::string fit_to_width(std::string_view text, std::size_t columns);

// A bar of `columns` cells, the first round(fraction x columns) of them
// filled; the fraction is held within 0 and 1.
[[nodiscard]] std::string progress_bar(double fraction, std::size_t columns);

// The edge of the art square, in pixels, for a terminal: as large as fits
// beside a text column and within the rows, even (two pixels per line), at
// most 128; 0 when no useful size fits.
[[nodiscard]] std::size_t art_edge(TerminalSize size);

// Every line of the screen, top to bottom, at most size.rows of them.
[[nodiscard]] std::vector<std::string> compose_screen(const DeviceState& state, const ScreenFacts& facts,
                                                      Clock::time_point now, TerminalSize size);

}  // namespace olvex::simulator
