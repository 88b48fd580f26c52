#pragma once

// Small helpers shared by the Core Audio backend's files.

#include <windows.h>

#include <expected>
#include <functional>
#include <memory>
#include <utility>

#include "base/com_ptr_win.hpp"
#include "base/platform_error_win.hpp"
#include "volume/audio_platform.hpp"

namespace olvex::volume::core_audio {

// The error of a failed call, described.
[[nodiscard]] inline std::unexpected<Error> failure(HRESULT hr) { return make_error(describe_hresult(hr)); }

// The interface a call hands out through `fill`; a call that succeeds
// without handing one out has failed all the same.
template <class Interface, class Fill>
[[nodiscard]] AudioResult<ComPtr<Interface>> obtain(Fill&& fill) {
    ComPtr<Interface> object;
    const HRESULT hr = std::forward<Fill>(fill)(object.put());
    if (FAILED(hr)) return failure(hr);
    if (!object) return failure(E_NOINTERFACE);
    return object;
}

// A registration undone by a call that captured everything it needs.
class Unregistering final : public Registration {
public:
    explicit Unregistering(std::move_only_function<void()> unregister) : unregister_(std::move(unregister)) {}
    Unregistering(const Unregistering&) = delete;
    Unregistering& operator=(const Unregistering&) = delete;
    ~Unregistering() override { unregister_(); }

private:
    std::move_only_function<void()> unregister_;
};

// The outcome of a registering call: on success, a registration that calls
// `unregister` when it goes.
template <class Unregister>
[[nodiscard]] AudioResult<RegistrationPtr> registered(HRESULT hr, Unregister unregister) {
    if (FAILED(hr)) return failure(hr);
    return std::make_unique<Unregistering>(std::move(unregister));
}

}  // namespace olvex::volume::core_audio
