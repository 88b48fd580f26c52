#include "log/log.hpp"

#include <cstdlib>
#include <exception>

#include <fmt/format.h>

#include "base/failure.hpp"
#include "base/standard_streams.hpp"
#include "base/thread.hpp"
#include "log/log_platform.hpp"

namespace olvex {

std::string format_log_entry(std::uint64_t unix_seconds, std::string_view message) {
    return fmt::format("[{}s] {}\n", unix_seconds, message);
}

std::string format_failure_entry(std::uint64_t unix_seconds, std::string_view thread_name,
                                 const std::source_location& where, std::optional<std::string_view> message) {
    std::string description =
        fmt::format("panicked at {}:{}:{}", where.file_name(), where.line(), where.column());
    if (message) fmt::format_to(std::back_inserter(description), ":\n{}", *message);
    return fmt::format("[{}s] thread '{}' {}\n", unix_seconds, thread_name, description);
}

void log_message(std::string_view message) {
    // One write, so lines from different threads do not interleave; with no
    // standard error attached this simply goes nowhere.
    std::string line(message);
    line += '\n';
    write_to_standard_error(line);
    append_to_crash_log(format_log_entry(log_platform::wall_clock_unix_seconds(), message));
}

void append_to_crash_log(std::string_view entry) {
    std::filesystem::path path;
    try {
        path = crash_log_path();
    } catch (...) {
        return;  // no path, no entry
    }
    log_platform::append_to_file(path, entry);
}

void failure_hook(const std::source_location& where, std::optional<std::string_view> message) noexcept {
    try {
        append_to_crash_log(format_failure_entry(log_platform::wall_clock_unix_seconds(),
                                                 current_thread_name(), where, message));
    } catch (...) {
        // Recording a failure must never fail in turn.
    }
}

namespace {

[[noreturn]] void record_and_end() noexcept {
    if (auto error = std::current_exception())
        record_exception(error, std::source_location::current());
    else
        failure_hook(std::source_location::current(), "terminate called without an active exception");
    // Ends without the runtime's own report or a crash dialog; the entry is the report.
    std::_Exit(EXIT_FAILURE);
}

}  // namespace

void install_failure_hook() {
    prepare_standard_streams();
    mark_main_thread();
    set_failure_recorder(&failure_hook);
    std::set_terminate(&record_and_end);
    log_platform::install_fault_handlers();
}

}  // namespace olvex
