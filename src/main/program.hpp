#pragma once

namespace olvex {

// The whole program: builds the system in its fixed order, runs the tray
// until the program is told to end, and returns the exit status: 0 after an
// ordinary end, 1 after a start-up error (reported on standard error as
// "Error: <description>" and nowhere else).
[[nodiscard]] int run_program();

}  // namespace olvex
