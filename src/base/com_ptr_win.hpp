#pragma once

// An owning pointer to a COM interface: one reference, released when the
// pointer goes. The toolchain has neither WRL nor ATL.

#include <unknwn.h>

#include <utility>

namespace olvex {

template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
        if (pointer_ != nullptr) pointer_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~ComPtr() { reset(); }

    [[nodiscard]] Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // Releases the reference held now.
    void reset() {
        if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
    }

    // For an out parameter that hands over a reference: releases the one held
    // now and gives the slot to fill.
    [[nodiscard]] Interface** put() {
        reset();
        return &pointer_;
    }
    [[nodiscard]] void** put_void() { return reinterpret_cast<void**>(put()); }

    // The same object through another of its interfaces; empty when it has
    // none or holds nothing.
    template <class Other>
    [[nodiscard]] ComPtr<Other> as() const {
        ComPtr<Other> other;
        if (pointer_ != nullptr) pointer_->QueryInterface(__uuidof(Other), other.put_void());
        return other;
    }

private:
    Interface* pointer_ = nullptr;
};

}  // namespace olvex
