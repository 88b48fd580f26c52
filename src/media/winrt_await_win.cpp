#include "media/winrt_await_win.hpp"

#include <algorithm>
#include <string>

#include <fmt/format.h>

#include "log/log.hpp"

namespace olvex::media::winrt {

namespace {

// "5s", or "250ms" for a limit of no whole seconds.
std::string limit_text(std::chrono::milliseconds limit) {
    if (limit.count() % 1000 == 0) return fmt::format("{}s", limit.count() / 1000);
    return fmt::format("{}ms", limit.count());
}

}  // namespace

CompletionSignal::~CompletionSignal() { CloseHandle(event_); }

PlatformResult<std::shared_ptr<CompletionSignal>> CompletionSignal::create() {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return make_error(describe_win32_error(GetLastError()));
    return std::make_shared<CompletionSignal>(event);
}

void CompletionSignal::signal(abi::AsyncStatus status) noexcept {
    // The release store pairs with the acquire load after the wait, though
    // the event's own ordering would already do.
    status_.store(status, std::memory_order_release);
    SetEvent(event_);
}

std::optional<abi::AsyncStatus> CompletionSignal::wait(std::chrono::milliseconds limit) const noexcept {
    // INFINITE is 0xFFFFFFFF: one less is the longest real limit.
    const auto longest = static_cast<std::chrono::milliseconds::rep>(INFINITE - 1);
    const auto milliseconds = static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, longest));
    if (WaitForSingleObject(event_, milliseconds) != WAIT_OBJECT_0) return std::nullopt;
    return status_.load(std::memory_order_acquire);
}

PlatformResult<void> operation_outcome(IUnknown& operation, abi::AsyncStatus status) {
    if (status == abi::AsyncStatus::completed) return {};
    auto info = query<abi::IAsyncInfo>(operation);
    if (!info) return std::unexpected(std::move(info.error()));
    HRESULT code = S_OK;
    if (const HRESULT hr = (*info)->get_ErrorCode(&code); FAILED(hr)) return failure(hr);
    if (SUCCEEDED(code)) code = status == abi::AsyncStatus::canceled ? HRESULT_FROM_WIN32(ERROR_CANCELLED) : E_FAIL;
    return failure(code);
}

std::unexpected<Error> abandon_operation(IUnknown& operation, std::string_view name, std::chrono::milliseconds limit) {
    ComPtr<abi::IAsyncInfo> info;
    if (SUCCEEDED(operation.QueryInterface(__uuidof(abi::IAsyncInfo), info.put_void())) && info) (void)info->Cancel();
    const std::string what = fmt::format("{} did not finish within {}", name, limit_text(limit));
    log_message("smtc: " + what);
    return make_error(what);
}

void close_operation(IUnknown& operation) noexcept {
    ComPtr<abi::IAsyncInfo> info;
    if (SUCCEEDED(operation.QueryInterface(__uuidof(abi::IAsyncInfo), info.put_void())) && info) (void)info->Close();
}

}  // namespace olvex::media::winrt
