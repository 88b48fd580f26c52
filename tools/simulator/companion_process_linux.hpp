#pragma once

// The program the simulator starts with --run, pointed at the simulator's
// port through OLVEX_AUDIO_PORT.

#include <sys/types.h>

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"

namespace olvex::simulator {

class CompanionProcess {
public:
    // Starts `argv` with OLVEX_AUDIO_PORT=`port` added to the environment,
    // standard input from /dev/null and its standard output and error into
    // a pipe (see output_fd).
    [[nodiscard]] static std::expected<CompanionProcess, Error> start(const std::vector<std::string>& argv,
                                                                      const std::string& port);
    CompanionProcess(CompanionProcess&& other) noexcept;
    CompanionProcess& operator=(CompanionProcess&&) = delete;
    CompanionProcess(const CompanionProcess&) = delete;
    CompanionProcess& operator=(const CompanionProcess&) = delete;
    // Stops the program if it still runs.
    ~CompanionProcess();

    // The read end of the program's output; -1 once it reached its end.
    [[nodiscard]] int output_fd() const { return output_; }
    void output_ended();
    // The wait status if the program has ended (reaps it), nothing otherwise.
    [[nodiscard]] std::optional<int> exited();
    // SIGTERM, then SIGKILL after two seconds; reaps the program.
    void stop();

private:
    CompanionProcess(pid_t pid, int output) : pid_(pid), output_(output) {}

    pid_t pid_ = 0;
    int output_ = -1;
};

}  // namespace olvex::simulator
