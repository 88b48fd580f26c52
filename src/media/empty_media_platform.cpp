#include "media/empty_media_platform.hpp"

#include <atomic>

namespace olvex::media {

namespace {

class EmptyMediaManager final : public MediaManager {
public:
    PlatformResult<SessionRef> get_current_session() override { return nullptr; }
    PlatformResult<std::vector<SessionRef>> get_sessions() override { return std::vector<SessionRef>{}; }
    PlatformResult<EventToken> add_event_handler(ManagerEvent, ManagerEventHandler) override { return next_token_++; }
    PlatformResult<void> remove_event_handler(ManagerEvent, EventToken) override { return {}; }

private:
    std::atomic<EventToken> next_token_{1};
};

}  // namespace

std::shared_ptr<MediaManager> make_empty_media_manager() { return std::make_shared<EmptyMediaManager>(); }

}  // namespace olvex::media
