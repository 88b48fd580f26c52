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

// The size past which the crash log is set aside as "<log>.1".
inline constexpr std::uint64_t CRASH_LOG_LIMIT = 1024 * 1024;

// Appends all of `entry` to the crash log (at the place fixed by
// fix_crash_log_path, else at crash_log_path()). Silent on every failure.
void append_to_crash_log(std::string_view entry);

// Appends all of `entry` to the log file at `path`. When the entry would take a
// non-empty file past `limit` bytes, the file is first renamed "<path>.1"
// (replacing an older one) and the entry begins a new file, so an entry is
// never split across the two. Safe to call from many threads at once.
// Silent on every failure.
void append_to_log_file(const std::filesystem::path& path, std::string_view entry,
                        std::uint64_t limit = CRASH_LOG_LIMIT);

// Where the crash log belongs, worked out from the system now, creating its
// folder: on Windows beside the executable when that folder is writable,
// else in %LOCALAPPDATA%\OLVEX-Audio-Control; on Linux in the user's state
// folder.
[[nodiscard]] std::filesystem::path crash_log_path();

// Works out crash_log_path() once and sends every later entry of this process
// there. The program calls it at start; tests, which move the log between
// cases, do not.
void fix_crash_log_path();

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
