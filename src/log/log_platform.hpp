#pragma once

// What the log needs from the operating system; one backend per platform.

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace olvex::log_platform {

// Whole seconds since 1970 of the wall clock (0 before 1970).
[[nodiscard]] std::uint64_t wall_clock_unix_seconds() noexcept;

// Opens `path` append-only (created when missing, never truncated), writes all
// of `bytes` and closes it. Any failure silently ends the attempt.
void append_to_file(const std::filesystem::path& path, std::string_view bytes) noexcept;

// Hooks for failures only the platform can see (Windows: hardware faults).
void install_fault_handlers() noexcept;

}  // namespace olvex::log_platform
