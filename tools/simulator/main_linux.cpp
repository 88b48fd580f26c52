// olvex-simulator: stands in for the OLVEX device on a pseudo-terminal.

#include <cstdio>
#include <string>
#include <string_view>

#include "simulator_linux.hpp"

namespace {

constexpr std::string_view USAGE =
    "usage: olvex-simulator [--script FILE|-] [--port-file FILE] [--run PROGRAM [ARGUMENT...]]\n"
    "\n"
    "Offers a pseudo-terminal that answers like the OLVEX device and shows what the\n"
    "device would show. Give the program its path in OLVEX_AUDIO_PORT (printed at\n"
    "start), or let --run start the program with it; everything after --run is the\n"
    "program's command line.\n"
    "\n"
    "Keys: space play/pause, n next, p previous, left/right seek 10 s, 0-9 seek to a\n"
    "tenth, up/down or +/- volume, m mute, l lock, r resync, q quit.\n"
    "\n"
    "--script runs commands instead of keys and prints every received message as one\n"
    "JSON line on standard output. Commands, one a line: wait-for KIND [TEXT],\n"
    "timeout SECONDS, send JSON, send-raw TEXT, key NAME, sleep SECONDS, quit.\n";

int usage_error() {
    std::fputs(USAGE.data(), stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    olvex::simulator::SimulatorOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--run") {
            for (++i; i < argc; ++i) options.run.emplace_back(argv[i]);
            if (options.run.empty()) return usage_error();
        } else if ((argument == "--script" || argument == "--port-file") && i + 1 < argc) {
            (argument == "--script" ? options.script : options.port_file) = argv[++i];
        } else if (argument == "--help" || argument == "-h") {
            std::fputs(USAGE.data(), stdout);
            return 0;
        } else {
            return usage_error();
        }
    }
    return olvex::simulator::run_simulator(options);
}
