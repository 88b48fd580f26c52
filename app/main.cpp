#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/command_line.hpp"
#include "app/program.hpp"

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments;
    for (int index = 1; index < argc; ++index) arguments.emplace_back(argv[index]);
    if (const auto status = olvex::app::answer_command_line(arguments)) return *status;
    // The workers are detached and run until the process ends; ending at once
    // spares them static destructors running under their feet.
    std::_Exit(olvex::app::run_program());
}
