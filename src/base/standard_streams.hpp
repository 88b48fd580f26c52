#pragma once

#include <string_view>

namespace olvex {

// Writes `bytes` unchanged (no line-end translation) to standard error or
// standard output. A stream that is missing, closed or broken swallows them.
void write_to_standard_error(std::string_view bytes) noexcept;
void write_to_standard_output(std::string_view bytes) noexcept;

// Makes writing to the standard streams safe for the rest of the run: on
// Linux a broken pipe no longer ends the process, and descriptors 0 to 2 are
// held open, so that no port or file opened later can take their numbers
// and receive text meant for a log.
void prepare_standard_streams() noexcept;

}  // namespace olvex
