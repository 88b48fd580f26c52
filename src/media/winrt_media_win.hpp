#pragma once

// The media platform port over the Windows Runtime's media transport
// controls: each port object wraps one Windows Runtime object.

#include <memory>

#include "base/com_ptr_win.hpp"
#include "media/media_platform.hpp"
#include "media/winrt_abi_win.hpp"

namespace olvex::media::winrt {

// The port's session for `session`; null for null.
[[nodiscard]] SessionRef wrap_session(ComPtr<abi::ISession> session);

// The port's manager for `manager`, which must not be null.
[[nodiscard]] std::shared_ptr<MediaManager> wrap_manager(ComPtr<abi::IManager> manager);

}  // namespace olvex::media::winrt
