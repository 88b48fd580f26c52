#include "volume/session_matching.hpp"

#include <iterator>
#include <string>
#include <string_view>

#include "base/text.hpp"
#include "base/text_case.hpp"

namespace olvex::volume {

namespace {

// Identifiers are matched only for ids longer than this: a short id such as
// "vlc" would be found inside unrelated identifiers.
constexpr std::size_t SHORTEST_IDENTIFIER_MATCH = 8;

bool is_worth_considering(AudioSession& session) {
    const auto system_sounds = session.is_system_sounds_session();
    if (system_sounds && *system_sounds) return false;
    const auto state = session.state();
    return !state || *state != AudioSessionState::expired;
}

bool identifier_contains(const AudioResult<std::string>& identifier, const std::string& lowered_app_id) {
    return identifier && unicode_lowercase(*identifier).find(lowered_app_id) != std::string::npos;
}

bool matches_by_name(AudioSession& session, AudioSystem& system, const AudioResult<std::uint32_t>& process,
                     std::string_view app_id) {
    ProcessIdentity identity;
    if (process) identity = system.process_identity(*process);
    if (identity.app_user_model_id && ascii_iequals(*identity.app_user_model_id, app_id)) return true;
    if (identity.executable_name) return ascii_iequals(*identity.executable_name, app_id);
    if (identity.app_user_model_id || app_id.size() < SHORTEST_IDENTIFIER_MATCH) return false;
    const std::string lowered = unicode_lowercase(app_id);
    return identifier_contains(session.session_identifier(), lowered) ||
           identifier_contains(session.session_instance_identifier(), lowered);
}

}  // namespace

bool session_matches_app(AudioSession& session, AudioSystem& system, const MediaApplication& app) {
    const auto process = session.process_id();
    if (matches_by_name(session, system, process, app.id)) return true;
    return process && app.process_id && system.is_process_within(*process, *app.process_id);
}

AudioResult<std::vector<AudioSessionPtr>> app_sessions_on(AudioSessionManager& manager, AudioSystem& system,
                                                          const MediaApplication& app) {
    auto sessions = manager.sessions();
    if (!sessions) return std::unexpected(std::move(sessions.error()));
    std::vector<AudioSessionPtr> matching;
    for (auto& session : *sessions) {
        if (is_worth_considering(*session) && session_matches_app(*session, system, app)) {
            matching.push_back(std::move(session));
        }
    }
    return matching;
}

AudioResult<std::vector<AudioSessionPtr>> find_app_sessions(AudioSystem& system, const MediaApplication& app) {
    std::vector<AudioSessionPtr> found;
    if (app.id.empty()) return found;
    auto devices = system.active_render_devices();
    if (!devices) return std::unexpected(std::move(devices.error()));
    for (auto& device : *devices) {
        auto manager = device->session_manager();
        if (!manager) continue;
        auto sessions = app_sessions_on(**manager, system, app);
        if (!sessions) return std::unexpected(std::move(sessions.error()));
        std::move(sessions->begin(), sessions->end(), std::back_inserter(found));
    }
    return found;
}

}  // namespace olvex::volume
