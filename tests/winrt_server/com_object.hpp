#pragma once

// The common part of every object the test server hands out: an atomic
// reference count, QueryInterface over the interfaces the class lists, the
// IInspectable members, and IAgileObject (the objects may be called from any
// thread, as the real platform's are). Every object counts itself as live
// while it exists, so that a test can see a reference its client never gave
// back.

#include <atomic>
#include <cstdint>
#include <utility>

#include "winrt_server/server_abi.hpp"

namespace olvex::test_server {

// One owned reference to a COM object.
template <class T>
class Ref {
public:
    Ref() = default;
    // Takes over a reference the caller already holds.
    static Ref adopt(T* pointer) {
        Ref ref;
        ref.pointer_ = pointer;
        return ref;
    }
    // Adds a reference of its own.
    static Ref share(T* pointer) {
        if (pointer != nullptr) pointer->AddRef();
        return adopt(pointer);
    }
    Ref(const Ref& other) : pointer_(other.pointer_) {
        if (pointer_ != nullptr) pointer_->AddRef();
    }
    Ref(Ref&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~Ref() { reset(); }

    void reset() {
        if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
    }
    [[nodiscard]] T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // Hands the reference to an out parameter.
    [[nodiscard]] T* detach() { return std::exchange(pointer_, nullptr); }

private:
    T* pointer_ = nullptr;
};

namespace detail {
inline std::atomic<std::int64_t> live_objects{0};
}  // namespace detail

// How many objects of the server exist at the moment, of every class.
inline std::int64_t live_object_count() { return detail::live_objects.load(); }

inline bool same_guid(const GUID& a, const GUID& b) { return IsEqualGUID(a, b) != 0; }

// The interfaces have no virtual destructor, by ABI necessity; the object
// deletes itself as its own class.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// `Derived` names its runtime class in CLASS_NAME and answers its own
// interfaces in `find_interface(iid)`, returning nullptr for the others.
template <class Derived, class Primary, class... Others>
class ComObject : public Primary, public Others... {
public:
    ComObject() { ++detail::live_objects; }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT __stdcall QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (same_guid(iid, abi::IID_UNKNOWN) || same_guid(iid, abi::IID_INSPECTABLE) ||
            same_guid(iid, abi::IID_AGILE_OBJECT)) {
            *out = static_cast<Primary*>(this);
        } else {
            *out = static_cast<Derived*>(this)->find_interface(iid);
        }
        if (*out == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG __stdcall AddRef() override { return ++references_; }
    ULONG __stdcall Release() override {
        const ULONG left = --references_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }
    HRESULT __stdcall GetIids(ULONG* count, IID** iids) override {
        if (count == nullptr || iids == nullptr) return E_POINTER;
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT __stdcall GetRuntimeClassName(HSTRING* name) override {
        if (name == nullptr) return E_POINTER;
        return WindowsCreateString(Derived::CLASS_NAME, static_cast<UINT32>(wcslen(Derived::CLASS_NAME)), name);
    }
    HRESULT __stdcall GetTrustLevel(TrustLevel* level) override {
        if (level == nullptr) return E_POINTER;
        *level = BaseTrust;
        return S_OK;
    }

    // A new object of the derived class with one reference for the caller.
    template <class... Arguments>
    static Ref<Derived> make(Arguments&&... arguments) {
        return Ref<Derived>::adopt(new Derived(std::forward<Arguments>(arguments)...));
    }

    // After the interface slots in the vtable, where no caller looks.
    virtual ~ComObject() { --detail::live_objects; }

private:
    std::atomic<ULONG> references_{1};
};

#pragma GCC diagnostic pop

}  // namespace olvex::test_server
