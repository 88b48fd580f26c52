// The DLL's entry points: activation for the Windows Runtime, and the control
// functions for tests in the same process.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "winrt_server/control.hpp"
#include "winrt_server/media_objects.hpp"
#include "winrt_server/server_state.hpp"
#include "winrt_server/stream_objects.hpp"

namespace {

using namespace olvex::test_server;

constexpr std::wstring_view DATA_READER_CLASS = L"Windows.Storage.Streams.DataReader";

std::wstring_view view_of(HSTRING text) {
    UINT32 length = 0;
    const wchar_t* raw = WindowsGetStringRawBuffer(text, &length);
    return {raw, length};
}

std::size_t copy_out(const std::string& text, char* buffer, std::size_t capacity) {
    if (buffer != nullptr && capacity > 0) {
        const std::size_t length = std::min(text.size(), capacity - 1);
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
    }
    return text.size();
}

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT __stdcall DllGetActivationFactory(HSTRING class_id, abi::IActivationFactory** factory) {
    if (factory == nullptr) return E_POINTER;
    *factory = nullptr;
    open_control_channel();
    const std::wstring_view name = view_of(class_id);
    if (const HRESULT failed = state().enter("DllGetActivationFactory " + narrow(std::wstring(name))); FAILED(failed)) {
        return failed;
    }
    if (name == Manager::CLASS_NAME) {
        *factory = make_manager_factory().detach();
        return S_OK;
    }
    if (name == DATA_READER_CLASS) {
        *factory = make_data_reader_factory().detach();
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Objects and threads of the server may be alive at any time.
__declspec(dllexport) HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }

// Runs one control line (see media_server_control.hpp); writes the reply as
// a NUL-terminated text and returns its full length.
__declspec(dllexport) std::size_t olvex_media_server_execute(const char* line, char* reply, std::size_t capacity) {
    return copy_out(execute_control_line(line == nullptr ? "" : line), reply, capacity);
}

// Thumbnail bytes without the hex round trip; `present` 0 removes the
// thumbnail. Returns 0, or -1 for an unknown session.
__declspec(dllexport) int olvex_media_server_set_thumbnail(int id, const unsigned char* bytes, std::size_t size,
                                                           int present) {
    auto session = manager().session(id);
    if (!session) return -1;
    auto data = session->data();
    data.thumbnail = present != 0 ? std::make_shared<const Bytes>(bytes, bytes + size) : nullptr;
    session->set_data(data);
    return 0;
}

// A new session; returns its id (from 1).
__declspec(dllexport) int olvex_media_server_add_session(const char* app_id) {
    return manager().add_session(app_id == nullptr ? "" : app_id);
}

// 0 on success, -1 for an unknown session.
__declspec(dllexport) int olvex_media_server_remove_session(int id) { return manager().remove_session(id) ? 0 : -1; }

// `id` 0: no current session.
__declspec(dllexport) int olvex_media_server_set_current(int id) { return manager().set_current(id) ? 0 : -1; }

// `event`: 0 SessionsChanged, 1 CurrentSessionChanged. Returns when every
// handler has run (on a server thread).
__declspec(dllexport) void olvex_media_server_raise_manager_event(int event) {
    manager().raise(event == 0 ? ManagerEventKind::sessions_changed : ManagerEventKind::current_session_changed);
}

// `event`: 0 MediaPropertiesChanged, 1 PlaybackInfoChanged, 2
// TimelinePropertiesChanged. Returns 0, or -1 for an unknown session.
__declspec(dllexport) int olvex_media_server_raise_session_event(int id, int event) {
    auto session = manager().session(id);
    if (!session || event < 0 || event > 2) return -1;
    session->raise(static_cast<SessionEventKind>(event));
    return 0;
}

// `mode` 0: the method returns `code`; 1: its operation ends with `code`.
__declspec(dllexport) void olvex_media_server_fail_next(const char* method, HRESULT code, int mode) {
    state().fail_next(method, code, mode == 0 ? FailureMode::call : FailureMode::operation);
}

__declspec(dllexport) void olvex_media_server_set_synchronous(int on) { state().set_synchronous(on != 0); }

__declspec(dllexport) void olvex_media_server_reset() { execute_control_line("reset"); }

// The server's objects alive, of every class, once no thread of the server
// runs any more.
__declspec(dllexport) std::int64_t olvex_media_server_live_objects() { return settled_object_count(); }

}  // extern "C"
