#include "app/command_line.hpp"

#include <string>

#include <fmt/format.h>

#include "base/standard_streams.hpp"
#include "serial/port_list.hpp"

namespace olvex::app {

namespace {

std::string usage() {
    return fmt::format(
        "Usage: olvex-audio-control [--help | --version]\n"
        "\n"
        "Keeps the OLVEX media-control device in step with the media players of the\n"
        "desktop session. It searches the serial ports for the device by itself.\n"
        "\n"
        "Environment:\n"
        "  {}  the one serial port to use instead, e.g. /dev/ttyACM1\n"
        "\n"
        "The log goes to standard error and to\n"
        "$XDG_STATE_HOME/olvex-audio-control/crash.log\n"
        "(normally ~/.local/state/olvex-audio-control/crash.log).\n",
        serial::PORT_OVERRIDE_VARIABLE);
}

}  // namespace

std::optional<int> answer_command_line(std::span<const std::string_view> arguments) {
    if (arguments.empty()) return std::nullopt;
    const std::string_view first = arguments.front();
    const bool known = first == "--version" || first == "--help";
    if (known && arguments.size() == 1) {
        // OLVEX_VERSION is the CMake project's version.
        write_to_standard_output(first == "--help" ? usage() : fmt::format("OLVEX-Audio-Control {}\n", OLVEX_VERSION));
        return 0;
    }
    const std::string_view unexpected = known ? arguments[1] : first;
    write_to_standard_error(fmt::format("olvex-audio-control: unexpected argument '{}' (see --help)\n", unexpected));
    return 2;
}

}  // namespace olvex::app
