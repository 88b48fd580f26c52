#include "media/empty_media_platform.hpp"
#include "media/media_platform.hpp"

namespace olvex::media {

// The player backend of this platform is not written yet: the program runs
// and reports that nothing plays.
PlatformResult<std::shared_ptr<MediaManager>> start_media_platform() { return make_empty_media_manager(); }

}  // namespace olvex::media
