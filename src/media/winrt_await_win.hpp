#pragma once

// Awaiting Windows Runtime operations on the calling thread: a completion
// handler of ours sets an event, the caller sleeps on it, then takes the
// results. No polling. An operation that has not finished within its limit
// is cancelled, closed and counted as failed: a player that never answers
// must not hold up a reading, a command or the device.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/com_ptr_win.hpp"
#include "media/media_platform.hpp"
#include "media/winrt_abi_win.hpp"
#include "media/winrt_object_win.hpp"

namespace olvex::media::winrt {

// The longest any awaited operation is waited for.
inline constexpr std::chrono::milliseconds OPERATION_TIME_LIMIT{5000};

// Set once by a completion handler, with the status it was given. Shared
// between the waiter and the handler: a completion that comes after the
// waiter gave up touches only this, which the handler keeps alive.
class CompletionSignal {
public:
    // Owns `event`, a manual-reset event not yet set.
    explicit CompletionSignal(HANDLE event) : event_(event) {}
    CompletionSignal(const CompletionSignal&) = delete;
    CompletionSignal& operator=(const CompletionSignal&) = delete;
    ~CompletionSignal();

    [[nodiscard]] static PlatformResult<std::shared_ptr<CompletionSignal>> create();

    void signal(abi::AsyncStatus status) noexcept;
    // Blocks until signal has been called, and returns its status; nothing
    // when `limit` passed first.
    [[nodiscard]] std::optional<abi::AsyncStatus> wait(std::chrono::milliseconds limit) const noexcept;

private:
    HANDLE event_;
    std::atomic<abi::AsyncStatus> status_{abi::AsyncStatus::started};
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// The AsyncOperationCompletedHandler<Result> handed to put_Completed. It may
// be invoked inside put_Completed, when the operation has already finished,
// or later on any thread, even after its waiter has given up.
template <class Result>
class CompletionHandler final : public AgileObject<abi::AsyncOperationCompletedHandler<Result>> {
public:
    explicit CompletionHandler(std::shared_ptr<CompletionSignal> signal) : signal_(std::move(signal)) {}

    HRESULT STDMETHODCALLTYPE Invoke(abi::IAsyncOperation<Result>*, abi::AsyncStatus status) noexcept override {
        signal_->signal(status);
        return S_OK;
    }

private:
    std::shared_ptr<CompletionSignal> signal_;
};

#pragma GCC diagnostic pop

// Nothing when a finished operation completed; otherwise its error code as
// the error (a cancelled operation without one reports ERROR_CANCELLED).
[[nodiscard]] PlatformResult<void> operation_outcome(IUnknown& operation, abi::AsyncStatus status);

// Gives up an operation that did not finish within `limit`: cancels it and
// logs "smtc: <name> did not finish within <limit>". The error to report.
[[nodiscard]] std::unexpected<Error> abandon_operation(IUnknown& operation, std::string_view name,
                                                       std::chrono::milliseconds limit);

// Closes an operation through IAsyncInfo, releasing its results.
void close_operation(IUnknown& operation) noexcept;

// Waits until `operation` (called `name` in the log) has finished, at most
// `limit`, then reports how it ended.
template <class Result>
[[nodiscard]] PlatformResult<void> wait_for_completion(abi::IAsyncOperation<Result>& operation, std::string_view name,
                                                       std::chrono::milliseconds limit) {
    auto signal = CompletionSignal::create();
    if (!signal) return std::unexpected(std::move(signal.error()));
    const auto handler = adopt<abi::AsyncOperationCompletedHandler<Result>>(new CompletionHandler<Result>(*signal));
    if (const HRESULT hr = operation.put_Completed(handler.get()); FAILED(hr)) return failure(hr);
    const auto status = (*signal)->wait(limit);
    if (!status) return abandon_operation(operation, name, limit);
    return operation_outcome(operation, *status);
}

// What an awaited operation yields: the value itself, or an owned reference
// for an operation that yields an object (empty if it yielded null).
template <class Result>
using Awaited = std::conditional_t<std::is_pointer_v<Result>, ComPtr<std::remove_pointer_t<Result>>, Result>;

// Waits for `operation`, takes its results and closes it.
template <class Result>
[[nodiscard]] PlatformResult<Awaited<Result>> await_operation(abi::IAsyncOperation<Result>& operation,
                                                              std::string_view name,
                                                              std::chrono::milliseconds limit = OPERATION_TIME_LIMIT) {
    const auto finished = wait_for_completion(operation, name, limit);
    if (!finished) {
        close_operation(operation);
        return std::unexpected(finished.error());
    }
    Result result{};
    const HRESULT hr = operation.GetResults(&result);
    close_operation(operation);
    if (FAILED(hr)) return failure(hr);
    if constexpr (std::is_pointer_v<Result>) {
        return adopt(result);
    } else {
        return result;
    }
}

// Starts the operation `name` with `start`, a call that fills its
// IAsyncOperation<Result>** argument and returns an HRESULT, and awaits it.
template <class Result, class Start>
[[nodiscard]] PlatformResult<Awaited<Result>> run_async(std::string_view name, Start&& start) {
    ComPtr<abi::IAsyncOperation<Result>> operation;
    if (const HRESULT hr = std::forward<Start>(start)(operation.put()); FAILED(hr)) return failure(hr);
    if (!operation) return failure(E_POINTER);
    return await_operation(*operation.get(), name);
}

}  // namespace olvex::media::winrt
