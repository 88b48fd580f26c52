#include "app/command_line.hpp"

namespace olvex::app {

// A GUI program has no console to answer on; whatever started it with
// arguments gets the program.
std::optional<int> answer_command_line(std::span<const std::string_view>) { return std::nullopt; }

}  // namespace olvex::app
