#pragma once

// Which audio sessions belong to the application that plays media.

#include <vector>

#include "volume/audio_platform.hpp"
#include "volume/media_application.hpp"

namespace olvex::volume {

// Whether `session` belongs to the application `app`. By name first: the
// process's application user model id, else its executable's file name
// (ASCII case ignored in both), else, for ids longer than 7 bytes, the
// session's identifiers containing the id (both lower-cased). Failing that,
// by descent: the session's process is the application's or one started
// below it.
[[nodiscard]] bool session_matches_app(AudioSession& session, AudioSystem& system, const MediaApplication& app);

// The application's sessions on one device, in the platform's order, never
// the system sounds session nor an expired one.
[[nodiscard]] AudioResult<std::vector<AudioSessionPtr>> app_sessions_on(AudioSessionManager& manager,
                                                                        AudioSystem& system,
                                                                        const MediaApplication& app);

// The application's sessions on every active output device, devices in order.
// An empty id has none. A device whose session manager cannot be had is
// skipped; a failure while listing a device's sessions fails the search.
[[nodiscard]] AudioResult<std::vector<AudioSessionPtr>> find_app_sessions(AudioSystem& system,
                                                                          const MediaApplication& app);

}  // namespace olvex::volume
