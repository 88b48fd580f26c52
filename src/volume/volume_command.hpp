#pragma once

// What other subsystems ask of the volume worker: the commands on its queue,
// and the channel through which the current application reaches the volume
// watcher.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "volume/media_application.hpp"

namespace olvex::volume {

// One request for the volume worker.
struct VolumeCommand {
    enum class Kind : std::uint8_t { SetLevel = 0, SetMute = 1, AppChanged = 2 };

    Kind kind = Kind::AppChanged;
    bool muted = false;   // SetMute only
    float level = 0.0f;   // SetLevel only, 0.0 to 1.0
    MediaApplication app;  // the current media session's application when the command was made
    bool operator==(const VolumeCommand&) const = default;
};

// Hands the volume watcher the application now playing, or nothing when no
// media session is left. Returns whether the watcher took it.
using ApplicationPoster = std::function<bool(std::optional<MediaApplication> app)>;

// A slot that is set once, when the volume watcher runs, and read by the media
// side from then on. Before it is set, posts go nowhere.
class CurrentApplicationChannel {
public:
    // Sets the poster; later calls are ignored. Returns whether this call set it.
    bool set(ApplicationPoster poster);
    [[nodiscard]] bool is_set() const;
    // Posts `app` if the slot is set; false when it is not or the post failed.
    bool post(std::optional<MediaApplication> app) const;
    // Posts `app`, read after the slot was set, unless a post went through
    // since then: that one told of a change at least as new.
    bool post_first(std::optional<MediaApplication> app) const;

private:
    bool deliver(std::optional<MediaApplication> app) const;  // under the lock

    // Held while posting, so that post_first sees every post before it.
    mutable std::mutex mutex_;
    ApplicationPoster poster_;
    mutable bool posted_ = false;
};

// The one channel of the process.
[[nodiscard]] CurrentApplicationChannel& current_application_channel();

}  // namespace olvex::volume
