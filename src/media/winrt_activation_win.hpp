#pragma once

// Activation factories of Windows Runtime classes.

#include <windows.h>

#include "base/com_ptr_win.hpp"
#include "media/media_platform.hpp"
#include "media/winrt_abi_win.hpp"
#include "media/winrt_object_win.hpp"

namespace olvex::media::winrt {

// RoGetActivationFactory for the class `class_id` and the interface `iid`. A
// thread that has not initialised COM makes the process join the
// multithreaded apartment (CoIncrementMTAUsage), and the factory is asked for
// once more.
[[nodiscard]] HRESULT request_activation_factory(const wchar_t* class_id, const GUID& iid, void** factory);

template <class Factory>
[[nodiscard]] PlatformResult<ComPtr<Factory>> get_activation_factory(const wchar_t* class_id) {
    ComPtr<Factory> factory;
    if (const HRESULT hr = request_activation_factory(class_id, __uuidof(Factory), factory.put_void()); FAILED(hr)) {
        return failure(hr);
    }
    if (!factory) return failure(E_POINTER);
    return factory;
}

// The factories the backend uses, each obtained once and kept for the life
// of the process; a failed attempt is not kept, so the next call tries again.
[[nodiscard]] PlatformResult<ComPtr<abi::IManagerStatics>> session_manager_statics();
[[nodiscard]] PlatformResult<ComPtr<abi::IDataReaderFactory>> data_reader_factory();

}  // namespace olvex::media::winrt
