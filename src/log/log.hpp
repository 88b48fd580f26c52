#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

namespace olvex {

// Writes `message` and a line feed to standard error, then appends
// "[<unix seconds>s] <message>\n" to the crash log. Never fails toward the
// caller: every write problem is swallowed.
void log_message(std::string_view message);

// Opens the crash log for appending, writes all of `entry`, closes it again.
// Silent on every failure.
void append_to_crash_log(std::string_view entry);

// Where the crash log lives, worked out anew on every call: beside the
// executable on Windows, in the user's state folder on Linux.
[[nodiscard]] std::filesystem::path crash_log_path();

// Records one unexpected failure in the crash log as
// "[<s>s] thread '<name>' panicked at <file>:<line>:<column>[:\n<message>]\n".
// Never throws; a failure that cannot be written is lost.
void failure_hook(const std::source_location& where, std::optional<std::string_view> message) noexcept;

// Installs the process-wide failure recording: marks the calling thread as
// "main" and sends to failure_hook the failures of guarded code and threads,
// uncaught exceptions (std::terminate) and, on Windows, hardware faults.
// The first thing the program does.
void install_failure_hook();

// The entries of log_message and failure_hook, built apart from the clock and
// the thread so that their layout can be checked.
[[nodiscard]] std::string format_log_entry(std::uint64_t unix_seconds, std::string_view message);
[[nodiscard]] std::string format_failure_entry(std::uint64_t unix_seconds, std::string_view thread_name,
                                               const std::source_location& where,
                                               std::optional<std::string_view> message);

// Whole seconds since 1970 of a Windows file time (100 ns units since 1601);
// a time before 1970 gives 0.
[[nodiscard]] constexpr std::uint64_t unix_seconds_from_file_time(std::uint64_t ticks) noexcept {
    constexpr std::uint64_t UNIX_EPOCH_TICKS = 116'444'736'000'000'000;
    return ticks < UNIX_EPOCH_TICKS ? 0 : (ticks - UNIX_EPOCH_TICKS) / 10'000'000;
}

// Whole seconds since 1970 from a signed seconds count; before 1970 gives 0.
[[nodiscard]] constexpr std::uint64_t unix_seconds_from_signed(std::int64_t seconds) noexcept {
    return seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
}

}  // namespace olvex
