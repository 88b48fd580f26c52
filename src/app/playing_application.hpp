#pragma once

// The application a media session reading names, as the volume side takes it.

#include <utility>

#include "media/commands.hpp"
#include "media/snapshot.hpp"
#include "volume/media_application.hpp"

namespace olvex::app {

[[nodiscard]] inline volume::MediaApplication application_of(const media::SessionSnapshot& snapshot) {
    return {snapshot.source_app_id, snapshot.source_process_id};
}

[[nodiscard]] inline volume::MediaApplication application_of(media::SessionApplication application) {
    return {std::move(application.app_id), application.process_id};
}

}  // namespace olvex::app
