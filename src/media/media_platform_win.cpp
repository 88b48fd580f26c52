#include "media/media_platform.hpp"

#include "media/winrt_activation_win.hpp"
#include "media/winrt_await_win.hpp"
#include "media/winrt_media_win.hpp"

namespace olvex::media {

PlatformResult<std::shared_ptr<MediaManager>> start_media_platform() {
    auto statics = winrt::session_manager_statics();
    if (!statics) return std::unexpected(std::move(statics.error()));
    auto manager = winrt::run_async<abi::IManager*>(
        "RequestAsync", [&](auto** operation) { return (*statics)->RequestAsync(operation); });
    if (!manager) return std::unexpected(std::move(manager.error()));
    if (!*manager) return make_error("the platform gave no media session manager");
    return winrt::wrap_manager(std::move(*manager));
}

}  // namespace olvex::media
