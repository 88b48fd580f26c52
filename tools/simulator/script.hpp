#pragma once

// Scripted runs: a list of commands, one a line, that wait for messages,
// send events and press keys, for tests and for checking firmware.
//
//   wait-for KIND [TEXT]   wait for the next message of KIND (hello,
//                          now_playing, art, volume, lock) whose line holds
//                          TEXT; a message counts for one wait only
//   timeout SECONDS        how long later waits last (10 s at first)
//   send JSON              send a device event (it must decode as one)
//   send-raw TEXT          send TEXT and a line feed, unchecked
//   key NAME               press a key (see key_named)
//   sleep SECONDS          pause; messages are still answered and printed
//   quit                   end the run
// Blank lines and lines starting with "#" are skipped.

#include <chrono>
#include <deque>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/error.hpp"
#include "device_state.hpp"
#include "keys.hpp"

namespace olvex::simulator {

inline constexpr double DEFAULT_WAIT_S = 10.0;

struct WaitFor {
    std::string kind;
    std::string containing;
    bool operator==(const WaitFor&) const = default;
};
struct SetTimeout {
    double seconds = DEFAULT_WAIT_S;
    bool operator==(const SetTimeout&) const = default;
};
struct SendLine {
    std::string line;  // without its line feed
    bool operator==(const SendLine&) const = default;
};
struct PressKey {
    Key key;
    bool operator==(const PressKey&) const = default;
};
struct Sleep {
    double seconds = 0.0;
    bool operator==(const Sleep&) const = default;
};
struct Quit {
    bool operator==(const Quit&) const = default;
};

using Command = std::variant<WaitFor, SetTimeout, SendLine, PressKey, Sleep, Quit>;

// One script line: a command, nothing for a blank line or a comment, or an
// error that says what is wrong.
[[nodiscard]] std::expected<std::optional<Command>, Error> parse_script_line(std::string_view line);

// What the run has to do next.
struct ScriptWait {
    std::optional<Clock::time_point> until;  // nothing: until a message or more script arrives
    bool operator==(const ScriptWait&) const = default;
};
struct ScriptEnd {
    int status = 0;
    std::string reason;  // empty on success
    bool operator==(const ScriptEnd&) const = default;
};
using ScriptStep = std::variant<ScriptWait, SendLine, PressKey, ScriptEnd>;

// Carries out a script one command after the other, fed with the commands
// as they are read and the messages as they arrive.
class ScriptRunner {
public:
    void add(Command command) { commands_.push_back(std::move(command)); }
    // No more commands will come: the run ends after the last one.
    void finish_input() { input_finished_ = true; }
    void message_received(std::string kind, std::string line);

    // Advances as far as it can at `now`. A SendLine or PressKey step is
    // done by the caller, which then asks again.
    [[nodiscard]] ScriptStep next(Clock::time_point now);

private:
    struct Received {
        std::string kind;
        std::string line;
    };

    bool take_match(const WaitFor& wait);
    [[nodiscard]] Clock::time_point deadline(double seconds) const;

    std::deque<Command> commands_;
    std::optional<Command> current_;
    Clock::time_point current_since_{};
    std::deque<Received> received_;
    double wait_s_ = DEFAULT_WAIT_S;
    bool input_finished_ = false;
};

}  // namespace olvex::simulator
