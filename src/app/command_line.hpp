#pragma once

// The program's command line. On Linux it answers --version and --help and
// refuses anything else; the Windows program has no console and ignores it.

#include <optional>
#include <span>
#include <string_view>

namespace olvex::app {

// Answers `arguments` (the command line without the program's name): the
// exit status when the program is to end at once, after writing its answer
// to standard output (status 0) or its complaint to standard error (status
// 2); nothing when the program is to run.
[[nodiscard]] std::optional<int> answer_command_line(std::span<const std::string_view> arguments);

}  // namespace olvex::app
