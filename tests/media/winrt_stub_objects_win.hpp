#pragma once

// Hand-made Windows Runtime objects for the backend's tests: a counted
// object that answers its own interface, and an asynchronous operation whose
// ending a test scripts.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <type_traits>

#include "media/winrt_abi_win.hpp"

namespace olvex::media::winrt::testing {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Answers IUnknown, IInspectable and Interface. The test owns the object
// (it starts with one reference) and checks the count; nothing deletes it.
template <class Interface>
class StubObject : public Interface {
public:
    StubObject() = default;
    StubObject(const StubObject&) = delete;
    StubObject& operator=(const StubObject&) = delete;
    virtual ~StubObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = other_interface(iid);
        if (*object == nullptr && (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IInspectable)) ||
                                   IsEqualIID(iid, __uuidof(Interface)))) {
            *object = static_cast<Interface*>(this);
        }
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG*, IID**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel*) override { return E_NOTIMPL; }

    [[nodiscard]] ULONG references() const { return references_; }

protected:
    virtual void* other_interface(REFIID) { return nullptr; }

private:
    std::atomic<ULONG> references_{1};
};

// `never`: not until the test calls finish_late, whatever the waiter does.
enum class Finish { inside_put_completed, later_on_another_thread, never };

// An IAsyncOperation<Result> (also IAsyncInfo) that ends as scripted.
template <class Result>
class StubOperation final : public StubObject<abi::IAsyncOperation<Result>>, public abi::IAsyncInfo {
    using Base = StubObject<abi::IAsyncOperation<Result>>;

public:
    StubOperation(Finish finish, abi::AsyncStatus status, Result value, HRESULT error_code = S_OK)
        : finish_(finish), final_status_(status), value_(value), error_code_(error_code) {}
    ~StubOperation() override {
        if (worker_.joinable()) worker_.join();
        if (held_handler_ != nullptr) held_handler_->Release();
    }

    // Completes a Finish::never operation now, as a player that answers late.
    void finish_late() {
        status_ = final_status_;
        held_handler_->Invoke(this, final_status_);
        held_handler_->Release();
        held_handler_ = nullptr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return Base::QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Base::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Base::Release(); }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG*, IID**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE put_Completed(abi::AsyncOperationCompletedHandler<Result>* handler) override {
        handler_answers_own_iid = answers(handler, __uuidof(abi::AsyncOperationCompletedHandler<Result>));
        handler_answers_agile = answers(handler, __uuidof(IAgileObject));
        if (put_completed_result != S_OK) return put_completed_result;
        if (finish_ == Finish::inside_put_completed) {
            status_ = final_status_;
            return handler->Invoke(this, final_status_);
        }
        handler->AddRef();
        if (finish_ == Finish::never) {
            held_handler_ = handler;
            return S_OK;
        }
        worker_ = std::thread([this, handler] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            status_ = final_status_;
            handler->Invoke(this, final_status_);
            handler->Release();
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Completed(abi::AsyncOperationCompletedHandler<Result>**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetResults(Result* result) override {
        ++results_taken;
        if (status_ != abi::AsyncStatus::completed) return static_cast<HRESULT>(0x8000000EL);  // E_ILLEGAL_METHOD_CALL
        if constexpr (std::is_pointer_v<Result>) {
            if (value_ != nullptr) value_->AddRef();
        }
        *result = value_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) override {
        *id = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Status(abi::AsyncStatus* status) override {
        *status = status_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override {
        *code = error_code_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override {
        ++cancelled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        if (cancelled > 0) closed_after_cancel = true;
        ++closed;
        return S_OK;
    }

    HRESULT put_completed_result = S_OK;
    std::atomic<int> results_taken{0};
    std::atomic<int> closed{0};
    std::atomic<int> cancelled{0};
    std::atomic<bool> closed_after_cancel{false};
    std::atomic<bool> handler_answers_own_iid{false};
    std::atomic<bool> handler_answers_agile{false};

private:
    void* other_interface(REFIID iid) override {
        return IsEqualIID(iid, __uuidof(abi::IAsyncInfo)) ? static_cast<abi::IAsyncInfo*>(this) : nullptr;
    }

    static bool answers(IUnknown* object, REFIID iid) {
        void* answer = nullptr;
        if (FAILED(object->QueryInterface(iid, &answer)) || answer == nullptr) return false;
        static_cast<IUnknown*>(answer)->Release();
        return true;
    }

    Finish finish_;
    abi::AsyncStatus final_status_;
    Result value_;
    HRESULT error_code_;
    std::atomic<abi::AsyncStatus> status_{abi::AsyncStatus::started};
    std::thread worker_;
    abi::AsyncOperationCompletedHandler<Result>* held_handler_ = nullptr;
};

#pragma GCC diagnostic pop

}  // namespace olvex::media::winrt::testing
