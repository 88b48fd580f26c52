#include "base/failure.hpp"

#include <atomic>

namespace olvex {

namespace {
std::atomic<FailureRecorder> installed_recorder{nullptr};
}

void set_failure_recorder(FailureRecorder recorder) noexcept { installed_recorder.store(recorder); }

void record_failure(const std::source_location& where, std::optional<std::string_view> message) noexcept {
    if (auto recorder = installed_recorder.load()) recorder(where, message);
}

void record_exception(const std::exception_ptr& error, const std::source_location& fallback) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const Failure& failure) {
        record_failure(failure.where(), failure.what());
    } catch (const std::exception& other) {
        record_failure(fallback, other.what());
    } catch (...) {
        record_failure(fallback, std::nullopt);
    }
}

}  // namespace olvex
