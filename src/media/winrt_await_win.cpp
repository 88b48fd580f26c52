#include "media/winrt_await_win.hpp"

namespace olvex::media::winrt {

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

abi::AsyncStatus CompletionSignal::wait() const noexcept {
    WaitForSingleObject(event_, INFINITE);
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

void close_operation(IUnknown& operation) noexcept {
    ComPtr<abi::IAsyncInfo> info;
    if (SUCCEEDED(operation.QueryInterface(__uuidof(abi::IAsyncInfo), info.put_void())) && info) (void)info->Close();
}

}  // namespace olvex::media::winrt
