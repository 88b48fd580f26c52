#pragma once

// The terminal the simulator draws in, and the signals that end it.

#include <expected>

#include "base/error.hpp"
#include "screen.hpp"

namespace olvex::simulator {

// Puts standard input in raw mode and switches to the alternate screen with
// the cursor hidden; the destructor puts everything back. Signals never end
// the program from inside a handler (see SignalPipe), so the destructor runs
// on every ordinary way out.
class FullScreenTerminal {
public:
    [[nodiscard]] static std::expected<FullScreenTerminal, Error> enter();
    FullScreenTerminal(FullScreenTerminal&& other) noexcept;
    FullScreenTerminal& operator=(FullScreenTerminal&&) = delete;
    FullScreenTerminal(const FullScreenTerminal&) = delete;
    FullScreenTerminal& operator=(const FullScreenTerminal&) = delete;
    ~FullScreenTerminal();

    // The size of the terminal now (80 x 24 if it cannot be read).
    [[nodiscard]] static TerminalSize size();
    // Draws `lines` from the top left, clearing what they do not cover.
    static void draw(const std::vector<std::string>& lines);

private:
    FullScreenTerminal() = default;
    bool active_ = false;
};

// SIGINT, SIGTERM, SIGHUP, SIGWINCH and SIGCHLD written as bytes into a
// pipe that the main loop polls; SIGPIPE ignored.
class SignalPipe {
public:
    [[nodiscard]] static std::expected<void, Error> install();
    [[nodiscard]] static int read_end();
    // Takes the signals that arrived; true in `ended` if one asks to end.
    struct Arrived {
        bool ended = false;
        bool resized = false;
        bool child = false;
    };
    [[nodiscard]] static Arrived take();
};

}  // namespace olvex::simulator
