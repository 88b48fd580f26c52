#pragma once

#include <exception>
#include <optional>
#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace olvex {

// Receives every unexpected failure: where it happened and its text, if any.
// Must not throw.
using FailureRecorder = void (*)(const std::source_location& where, std::optional<std::string_view> message);

// Replaces the process-wide recorder (nullptr: failures go unrecorded).
void set_failure_recorder(FailureRecorder recorder) noexcept;

// Hands one failure to the installed recorder.
void record_failure(const std::source_location& where, std::optional<std::string_view> message) noexcept;

// An unexpected failure that knows where it was raised.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message, std::source_location where = std::source_location::current())
        : std::runtime_error(message), where_(where) {}
    [[nodiscard]] const std::source_location& where() const noexcept { return where_; }

private:
    std::source_location where_;
};

// Records the exception `error` (a Failure reports its own location, anything
// else `fallback`).
void record_exception(const std::exception_ptr& error, const std::source_location& fallback) noexcept;

// Runs `body`; an exception escaping it is recorded and swallowed. Returns
// whether `body` finished normally. The caller writes its own log line.
template <typename Body>
bool run_guarded(Body&& body, std::source_location where = std::source_location::current()) noexcept {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        record_exception(std::current_exception(), where);
        return false;
    }
}

}  // namespace olvex
