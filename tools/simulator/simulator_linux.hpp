#pragma once

// The simulator's main loop: the port, the keys or the script, the screen
// or the printed messages, and the program started with --run.

#include <optional>
#include <string>
#include <vector>

namespace olvex::simulator {

struct SimulatorOptions {
    // A script file, or "-" for standard input; nothing for the keyboard.
    std::optional<std::string> script;
    // Where to write the port's path (for scripts that start the program).
    std::optional<std::string> port_file;
    // The program to start against the port, with its arguments.
    std::vector<std::string> run;
};

// Runs until "q", a signal or the end of the script; the exit status: 0, or
// 1 when a script wait timed out or the simulator could not start, 2 for a
// script line that does not parse.
[[nodiscard]] int run_simulator(const SimulatorOptions& options);

}  // namespace olvex::simulator
