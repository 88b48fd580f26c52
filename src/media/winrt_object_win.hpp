#pragma once

// Small pieces shared by the Windows Runtime backend: errors from HRESULTs,
// reading a property through a getter, and the COM objects the Windows
// Runtime calls back (completion handlers and event delegates).

#include <objidl.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <utility>

#include "base/com_ptr_win.hpp"
#include "base/failure.hpp"
#include "base/platform_error_win.hpp"
#include "media/media_platform.hpp"
#include "media/winrt_abi_win.hpp"

namespace olvex::media::winrt {

// The error for a failed call: "<message text> (0xXXXXXXXX)".
[[nodiscard]] inline std::unexpected<Error> failure(HRESULT hr) { return make_error(describe_hresult(hr)); }

// Takes over a reference the Windows Runtime handed out.
template <class Interface>
[[nodiscard]] ComPtr<Interface> adopt(Interface* object) {
    ComPtr<Interface> pointer;
    *pointer.put() = object;
    return pointer;
}

// A new reference to a borrowed object.
template <class Interface>
[[nodiscard]] ComPtr<Interface> share(Interface* object) {
    if (object != nullptr) object->AddRef();
    return adopt(object);
}

// The same object through another interface; the QueryInterface error if it
// has none.
template <class Interface>
[[nodiscard]] PlatformResult<ComPtr<Interface>> query(IUnknown& object) {
    ComPtr<Interface> other;
    if (const HRESULT hr = object.QueryInterface(__uuidof(Interface), other.put_void()); FAILED(hr)) {
        return failure(hr);
    }
    if (!other) return failure(E_NOINTERFACE);
    return other;
}

// One plain value read through a getter such as get_PlaybackStatus.
template <class Object, class Value>
[[nodiscard]] PlatformResult<Value> get_value(Object& object, HRESULT (STDMETHODCALLTYPE Object::*getter)(Value*)) {
    Value value{};
    if (const HRESULT hr = (object.*getter)(&value); FAILED(hr)) return failure(hr);
    return value;
}

// One object read through a getter; may be empty when the platform has none.
template <class Object, class Interface>
[[nodiscard]] PlatformResult<ComPtr<Interface>> get_object(Object& object,
                                                           HRESULT (STDMETHODCALLTYPE Object::*getter)(Interface**)) {
    ComPtr<Interface> value;
    if (const HRESULT hr = (object.*getter)(value.put()); FAILED(hr)) return failure(hr);
    return value;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// IUnknown for an object of ours that implements one delegate interface.
// It answers IUnknown, IAgileObject and the delegate's own IID only: being
// agile lets the Windows Runtime call it on any thread without marshaling.
// The count is atomic, since the last release may come on any thread.
template <class Interface>
class AgileObject : public Interface {
public:
    AgileObject() = default;
    AgileObject(const AgileObject&) = delete;
    AgileObject& operator=(const AgileObject&) = delete;
    virtual ~AgileObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        if (!IsEqualIID(iid, __uuidof(IUnknown)) && !IsEqualIID(iid, __uuidof(IAgileObject)) &&
            !IsEqualIID(iid, __uuidof(Interface))) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return references_.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> references_{1};
};

// A TypedEventHandler<Sender*, Args*> that hands the sender to a function.
// An exception from the function is recorded as a failure and never reaches
// the Windows Runtime.
template <class Sender, class Args>
class EventDelegate final : public AgileObject<abi::TypedEventHandler<Sender*, Args*>> {
public:
    explicit EventDelegate(std::function<void(Sender*)> on_event) : on_event_(std::move(on_event)) {}

    HRESULT STDMETHODCALLTYPE Invoke(Sender* sender, Args*) noexcept override {
        run_guarded([&] { on_event_(sender); });
        return S_OK;
    }

private:
    std::function<void(Sender*)> on_event_;
};

#pragma GCC diagnostic pop

// A new TypedEventHandler<Sender*, Args*> object, holding its first
// reference.
template <class Sender, class Args>
[[nodiscard]] ComPtr<abi::TypedEventHandler<Sender*, Args*>> make_event_delegate(
    std::function<void(Sender*)> on_event) {
    return adopt<abi::TypedEventHandler<Sender*, Args*>>(new EventDelegate<Sender, Args>(std::move(on_event)));
}

}  // namespace olvex::media::winrt
