#include "media/media_platform.hpp"
#include "media/mpris_manager_linux.hpp"

namespace olvex::media {

PlatformResult<std::shared_ptr<MediaManager>> start_media_platform() { return mpris::start_mpris_manager(); }

}  // namespace olvex::media
