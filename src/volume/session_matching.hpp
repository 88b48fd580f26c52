#pragma once

// Which audio sessions belong to the application that plays media.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "volume/app_processes.hpp"
#include "volume/audio_platform.hpp"
#include "volume/media_application.hpp"

namespace olvex::volume {

// Finds the sessions of the application, by the rules of
// match_app_processes over the facts the platform gathers; failing those,
// for ids longer than 7 bytes, the sessions of processes the platform knows
// nothing of whose identifiers contain the id (both lower-cased).
//
// What the rules found is reused while the application stays the same and
// no session of a process not seen before appears. A finder that tells
// writes one log line for each application, and again when what matched it
// changes, so that a user whose knob does nothing can say what was there.
class AppSessionFinder {
public:
    enum class Telling { quiet, logged };
    explicit AppSessionFinder(Telling telling = Telling::quiet) : telling_(telling) {}

    // The application's sessions on one device, in the platform's order,
    // never the system sounds session nor an expired one.
    [[nodiscard]] AudioResult<std::vector<AudioSessionPtr>> on_device(AudioSessionManager& manager,
                                                                      AudioSystem& system,
                                                                      const MediaApplication& app);

    // The application's sessions on every active output device, devices in
    // order. An empty id has none. A device whose session manager cannot be
    // had is skipped; a failure while listing a device's sessions fails the
    // search.
    [[nodiscard]] AudioResult<std::vector<AudioSessionPtr>> everywhere(AudioSystem& system,
                                                                       const MediaApplication& app);

private:
    struct Outcome {
        std::optional<MatchRule> rule;  // none: by session identifier, or nothing matched
        std::vector<std::uint32_t> processes;
        bool operator==(const Outcome&) const = default;
    };

    friend bool session_matches_app(AudioSession& session, AudioSystem& system, const MediaApplication& app);

    std::vector<AudioSessionPtr> choose(std::vector<AudioSessionPtr> candidates, AudioSystem& system,
                                        const MediaApplication& app);
    // The indexes of the candidates that are the application's.
    std::vector<std::size_t> pick(const std::vector<AudioSession*>& candidates, AudioSystem& system,
                                  const MediaApplication& app);
    void decide(AudioSystem& system, const MediaApplication& app, const std::vector<std::uint32_t>& processes);
    void tell(const MediaApplication& app, const std::vector<AudioSession*>& candidates,
              const std::vector<std::optional<std::uint32_t>>& owners, const std::vector<std::size_t>& picked);

    Telling telling_;
    // What the rules decided, for which application and with which session processes in sight.
    std::optional<MediaApplication> decided_for_;
    std::vector<std::uint32_t> processes_seen_;
    std::vector<ProcessFacts> facts_;
    std::optional<AppProcessMatch> match_;
    // What was last told, so that it is told once.
    std::optional<std::pair<std::string, Outcome>> told_;
};

// Whether `session`, judged on its own, belongs to the application `app`.
[[nodiscard]] bool session_matches_app(AudioSession& session, AudioSystem& system, const MediaApplication& app);

// A finder's on_device and everywhere, once, without reuse or telling.
[[nodiscard]] AudioResult<std::vector<AudioSessionPtr>> app_sessions_on(AudioSessionManager& manager,
                                                                        AudioSystem& system,
                                                                        const MediaApplication& app);
[[nodiscard]] AudioResult<std::vector<AudioSessionPtr>> find_app_sessions(AudioSystem& system,
                                                                          const MediaApplication& app);

}  // namespace olvex::volume
