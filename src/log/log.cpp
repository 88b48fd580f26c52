#include "log/log.hpp"

#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>

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

namespace {

// One writer at a time: the size check, the rename and the append of an entry
// must not interleave with another's, or an entry could land in a file that
// is being set aside, or two writers could both rotate.
struct CrashLogPlace {
    std::mutex mutex;
    std::optional<std::filesystem::path> fixed;
};

CrashLogPlace& crash_log_place() {
    static CrashLogPlace place;
    return place;
}

void set_aside_when_full(const std::filesystem::path& path, std::uint64_t incoming, std::uint64_t limit) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    // An entry larger than the limit still gets a file of its own.
    if (error || size == 0 || size + incoming <= limit) return;
    std::filesystem::path rotated = path;
    rotated += ".1";
    std::filesystem::rename(path, rotated, error);
}

}  // namespace

void append_to_log_file(const std::filesystem::path& path, std::string_view entry, std::uint64_t limit) {
    try {
        const std::lock_guard lock(crash_log_place().mutex);
        set_aside_when_full(path, entry.size(), limit);
        log_platform::append_to_file(path, entry);
    } catch (...) {
        // A log that cannot be written must not take the program down.
    }
}

void append_to_crash_log(std::string_view entry) {
    std::filesystem::path path;
    try {
        {
            auto& place = crash_log_place();
            const std::lock_guard lock(place.mutex);
            if (place.fixed) path = *place.fixed;
        }
        if (path.empty()) path = crash_log_path();
    } catch (...) {
        return;  // no path, no entry
    }
    append_to_log_file(path, entry);
}

void fix_crash_log_path() {
    try {
        auto path = crash_log_path();
        auto& place = crash_log_place();
        const std::lock_guard lock(place.mutex);
        place.fixed = std::move(path);
    } catch (...) {
        // Left unfixed, every entry works out the place anew.
    }
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
