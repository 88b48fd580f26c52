#include "volume/volume_command.hpp"

#include <utility>

namespace olvex::volume {

bool CurrentApplicationChannel::set(ApplicationPoster poster) {
    std::lock_guard lock(mutex_);
    if (poster_) return false;
    poster_ = std::move(poster);
    return true;
}

bool CurrentApplicationChannel::is_set() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(poster_);
}

bool CurrentApplicationChannel::post(std::optional<MediaApplication> app) const {
    std::lock_guard lock(mutex_);
    return deliver(std::move(app));
}

bool CurrentApplicationChannel::post_first(std::optional<MediaApplication> app) const {
    std::lock_guard lock(mutex_);
    return !posted_ && deliver(std::move(app));
}

bool CurrentApplicationChannel::deliver(std::optional<MediaApplication> app) const {
    if (!poster_ || !poster_(std::move(app))) return false;
    posted_ = true;
    return true;
}

CurrentApplicationChannel& current_application_channel() {
    static auto* channel = new CurrentApplicationChannel();  // never destroyed: threads post until exit
    return *channel;
}

}  // namespace olvex::volume
