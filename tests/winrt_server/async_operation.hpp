#pragma once

// IAsyncOperation<T> as the platform runs it: the result is decided when the
// operation starts, and completion comes either on a thread of the server's
// own a moment later (the usual case, so the client really waits) or before
// the operation is handed out (the client's put_Completed then runs the
// handler at once, on its own thread). Both paths happen on real systems.

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "winrt_server/com_object.hpp"
#include "winrt_server/server_state.hpp"

namespace olvex::test_server {

// How a result of ABI type `Result` is held and handed out.
template <class Result>
struct ResultSlot {
    Result value{};
    void hand_out(Result* out) const { *out = value; }
};

template <class Interface>
struct ResultSlot<Interface*> {
    Ref<Interface> value;
    void hand_out(Interface** out) const {
        if (value) value->AddRef();
        *out = value.get();
    }
};

// `Traits` gives NAME (for call counts), OPERATION_IID and HANDLER_IID.
// Cancel is counted and otherwise ignored, as by a player that never answers.
template <class Result, class Traits>
class AsyncOperation final
    : public ComObject<AsyncOperation<Result, Traits>, abi::IAsyncOperation<Result>, abi::IAsyncInfo> {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Windows.Foundation.IAsyncOperation`1";
    using Handler = abi::IAsyncCompletedHandler<Result>;
    using Slot = ResultSlot<Result>;

    // Starts the operation of `method`: it ends with `result`, or in error
    // when a test asked for a failure; while `method` hangs, not until it no
    // longer does.
    static Ref<AsyncOperation> start(Slot result, const std::string& method) {
        const HRESULT failure = state().operation_failure(method);
        auto operation = AsyncOperation::make();
        std::function<void()> finish_late = [operation, result, failure] { operation->finish(result, failure); };
        if (state().hold_if_hanging(method, finish_late)) return operation;
        if (state().synchronous()) {
            operation->finish(std::move(result), failure);
        } else {
            run_on_server_thread(
                [operation, result = std::move(result), failure]() mutable {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    operation->finish(std::move(result), failure);
                },
                false);
        }
        return operation;
    }

    void* find_interface(const GUID& iid) {
        if (same_guid(iid, Traits::OPERATION_IID)) return static_cast<abi::IAsyncOperation<Result>*>(this);
        if (same_guid(iid, abi::IID_ASYNC_INFO)) return static_cast<abi::IAsyncInfo*>(this);
        return nullptr;
    }

    HRESULT __stdcall put_Completed(Handler* handler) override {
        if (const HRESULT failed = state().enter(method("put_Completed")); FAILED(failed)) return failed;
        if (handler == nullptr) return E_POINTER;
        check_handler(handler);
        std::unique_lock lock(mutex_);
        if (handler_) {
            state().log_violation(method("put_Completed") + " called twice");
            return abi::E_ILLEGAL_DELEGATE_ASSIGNMENT;
        }
        handler_ = Ref<Handler>::share(handler);
        if (status_ == abi::ASYNC_STARTED) return S_OK;
        const auto status = status_;
        lock.unlock();
        handler->Invoke(this, status);
        return S_OK;
    }

    HRESULT __stdcall get_Completed(Handler** handler) override {
        if (const HRESULT failed = state().enter(method("get_Completed")); FAILED(failed)) return failed;
        if (handler == nullptr) return E_POINTER;
        const std::lock_guard lock(mutex_);
        *handler = Ref<Handler>(handler_).detach();
        return S_OK;
    }

    HRESULT __stdcall GetResults(Result* result) override {
        if (const HRESULT failed = state().enter(method("GetResults")); FAILED(failed)) return failed;
        if (result == nullptr) return E_POINTER;
        const std::lock_guard lock(mutex_);
        if (status_ == abi::ASYNC_ERROR) return error_;
        if (status_ != abi::ASYNC_COMPLETED) {
            state().log_violation(method("GetResults") + " before completion");
            return abi::E_ILLEGAL_METHOD_CALL;
        }
        result_.hand_out(result);
        return S_OK;
    }

    HRESULT __stdcall get_Id(UINT32* id) override {
        if (id == nullptr) return E_POINTER;
        *id = 1;
        return S_OK;
    }
    HRESULT __stdcall get_Status(std::int32_t* status) override {
        if (status == nullptr) return E_POINTER;
        const std::lock_guard lock(mutex_);
        *status = status_;
        return S_OK;
    }
    HRESULT __stdcall get_ErrorCode(HRESULT* code) override {
        if (code == nullptr) return E_POINTER;
        const std::lock_guard lock(mutex_);
        *code = error_;
        return S_OK;
    }
    HRESULT __stdcall Cancel() override {
        state().enter(method("Cancel"));
        return S_OK;
    }
    HRESULT __stdcall Close() override {
        state().enter(method("Close"));
        return S_OK;
    }

private:
    static std::string method(const char* name) { return std::string(Traits::NAME) + "." + name; }

    // The platform's delegates answer their own parameterized IID; a client
    // handler that does not is most likely built for another T.
    static void check_handler(Handler* handler) {
        void* same = nullptr;
        if (FAILED(handler->QueryInterface(Traits::HANDLER_IID, &same)) || same == nullptr) {
            state().log_violation(method("put_Completed") + " handler does not answer its IID");
            return;
        }
        static_cast<IUnknown*>(same)->Release();
    }

    void finish(Slot result, HRESULT failure) {
        Ref<Handler> handler;
        std::int32_t status = abi::ASYNC_COMPLETED;
        {
            const std::lock_guard lock(mutex_);
            if (FAILED(failure)) {
                status = abi::ASYNC_ERROR;
                error_ = failure;
            } else {
                result_ = std::move(result);
            }
            status_ = status;
            handler = handler_;
        }
        if (handler) handler->Invoke(this, status);
    }

    std::mutex mutex_;
    std::int32_t status_ = abi::ASYNC_STARTED;
    HRESULT error_ = S_OK;
    Slot result_;
    Ref<Handler> handler_;
};

}  // namespace olvex::test_server
