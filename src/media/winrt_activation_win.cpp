#include "media/winrt_activation_win.hpp"

#include <roapi.h>
#include <winstring.h>

#include <cwchar>
#include <mutex>

#include "base/com_apartment_win.hpp"

namespace olvex::media::winrt {

namespace {

HRESULT ask_for_factory(const wchar_t* class_id, const GUID& iid, void** factory) {
    HSTRING_HEADER header{};
    HSTRING name = nullptr;
    const auto length = static_cast<UINT32>(std::wcslen(class_id));
    if (const HRESULT hr = WindowsCreateStringReference(class_id, length, &header, &name); FAILED(hr)) return hr;
    return RoGetActivationFactory(name, iid, factory);
}

// Factories are never released: one released while the process exits, after
// the runtime has gone, would crash it.
template <class Factory>
PlatformResult<ComPtr<Factory>> cached_factory(const wchar_t* class_id) {
    static std::mutex mutex;
    static Factory* cached = nullptr;
    std::lock_guard lock(mutex);
    if (cached == nullptr) {
        auto factory = get_activation_factory<Factory>(class_id);
        if (!factory) return std::unexpected(std::move(factory.error()));
        cached = factory->get();
        cached->AddRef();
    }
    return share(cached);
}

}  // namespace

HRESULT request_activation_factory(const wchar_t* class_id, const GUID& iid, void** factory) {
    const HRESULT hr = ask_for_factory(class_id, iid, factory);
    if (hr != CO_E_NOTINITIALIZED) return hr;
    if (const HRESULT joined = join_multithreaded_apartment(); FAILED(joined)) return joined;
    return ask_for_factory(class_id, iid, factory);
}

PlatformResult<ComPtr<abi::IManagerStatics>> session_manager_statics() {
    return cached_factory<abi::IManagerStatics>(
        L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionManager");
}

PlatformResult<ComPtr<abi::IDataReaderFactory>> data_reader_factory() {
    return cached_factory<abi::IDataReaderFactory>(L"Windows.Storage.Streams.DataReader");
}

}  // namespace olvex::media::winrt
