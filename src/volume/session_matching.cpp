#include "volume/session_matching.hpp"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "base/text.hpp"
#include "base/text_case.hpp"
#include "log/log.hpp"

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

bool identifiers_contain(AudioSession& session, std::string_view app_id) {
    if (app_id.size() < SHORTEST_IDENTIFIER_MATCH) return false;
    const std::string lowered = unicode_lowercase(app_id);
    return identifier_contains(session.session_identifier(), lowered) ||
           identifier_contains(session.session_instance_identifier(), lowered);
}

std::optional<std::uint32_t> owner_of(AudioSession& session) {
    const auto process = session.process_id();
    return process ? std::optional(*process) : std::nullopt;
}

const ProcessFacts* facts_for(const std::vector<ProcessFacts>& facts, std::optional<std::uint32_t> process) {
    if (!process) return nullptr;
    const auto found = std::ranges::find(facts, *process, &ProcessFacts::id);
    return found == facts.end() ? nullptr : &*found;
}

// Players name themselves: a log line must stay one line whatever they say.
std::string printable(std::string_view text) {
    std::string shown = sanitize_utf8(text);
    std::ranges::replace_if(shown, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
    return shown;
}

AudioResult<std::vector<AudioSessionPtr>> considered_sessions(AudioSessionManager& manager) {
    auto sessions = manager.sessions();
    if (!sessions) return std::unexpected(std::move(sessions.error()));
    std::erase_if(*sessions, [](const AudioSessionPtr& session) { return !is_worth_considering(*session); });
    return sessions;
}

}  // namespace

AudioResult<std::vector<AudioSessionPtr>> AppSessionFinder::on_device(AudioSessionManager& manager,
                                                                      AudioSystem& system,
                                                                      const MediaApplication& app) {
    auto sessions = considered_sessions(manager);
    if (!sessions) return sessions;
    return choose(std::move(*sessions), system, app);
}

AudioResult<std::vector<AudioSessionPtr>> AppSessionFinder::everywhere(AudioSystem& system,
                                                                       const MediaApplication& app) {
    std::vector<AudioSessionPtr> candidates;
    if (app.id.empty()) return candidates;
    auto devices = system.active_render_devices();
    if (!devices) return std::unexpected(std::move(devices.error()));
    for (auto& device : *devices) {
        auto manager = device->session_manager();
        if (!manager) continue;
        auto sessions = considered_sessions(**manager);
        if (!sessions) return sessions;
        std::move(sessions->begin(), sessions->end(), std::back_inserter(candidates));
    }
    return choose(std::move(candidates), system, app);
}

std::vector<AudioSessionPtr> AppSessionFinder::choose(std::vector<AudioSessionPtr> candidates, AudioSystem& system,
                                                      const MediaApplication& app) {
    std::vector<AudioSession*> seen;
    for (const auto& session : candidates) seen.push_back(session.get());
    std::vector<AudioSessionPtr> chosen;
    for (const std::size_t index : pick(seen, system, app)) chosen.push_back(std::move(candidates[index]));
    return chosen;
}

std::vector<std::size_t> AppSessionFinder::pick(const std::vector<AudioSession*>& candidates, AudioSystem& system,
                                                const MediaApplication& app) {
    std::vector<std::optional<std::uint32_t>> owners;
    std::vector<std::uint32_t> processes;
    for (AudioSession* session : candidates) {
        owners.push_back(owner_of(*session));
        if (owners.back()) processes.push_back(*owners.back());
    }
    std::ranges::sort(processes);
    processes.erase(std::unique(processes.begin(), processes.end()), processes.end());
    if (decided_for_ != app || !std::ranges::includes(processes_seen_, processes)) decide(system, app, processes);

    std::vector<std::size_t> picked;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const bool belongs = match_ ? owners[i] && std::ranges::count(match_->session_processes, *owners[i]) > 0
                                    : facts_for(facts_, owners[i]) == nullptr &&
                                          identifiers_contain(*candidates[i], app.id);
        if (belongs) picked.push_back(i);
    }
    if (telling_ == Telling::logged) tell(app, candidates, owners, picked);
    return picked;
}

void AppSessionFinder::decide(AudioSystem& system, const MediaApplication& app,
                              const std::vector<std::uint32_t>& processes) {
    facts_ = system.process_facts(app.id, processes);
    match_ = match_app_processes(app, facts_, processes);
    decided_for_ = app;
    processes_seen_ = processes;
}

void AppSessionFinder::tell(const MediaApplication& app, const std::vector<AudioSession*>& candidates,
                            const std::vector<std::optional<std::uint32_t>>& owners,
                            const std::vector<std::size_t>& picked) {
    Outcome outcome{match_ ? std::optional(match_->rule) : std::nullopt, {}};
    for (const std::size_t index : picked) outcome.processes.push_back(owners[index].value_or(0));
    if (told_ && told_->first == app.id && told_->second == outcome) return;
    told_.emplace(app.id, outcome);

    std::vector<std::size_t> shown = picked;
    if (picked.empty()) {
        for (std::size_t i = 0; i < candidates.size(); ++i) shown.push_back(i);
    }
    std::string sessions;
    for (const std::size_t index : shown) {
        const ProcessFacts* facts = facts_for(facts_, owners[index]);
        const std::string name = facts && !facts->executable.empty() ? printable(facts->executable) : "?";
        sessions += fmt::format("{}{} ({})", sessions.empty() ? "" : ", ", name,
                                owners[index] ? std::to_string(*owners[index]) : std::string("no process"));
    }
    const std::string id = printable(app.id);
    if (picked.empty()) {
        log_message(fmt::format("volume: no audio session matched \"{}\"; sessions: {}", id,
                                sessions.empty() ? "none" : sessions));
        return;
    }
    const std::string_view rule = outcome.rule ? rule_name(*outcome.rule) : "session identifier";
    log_message(fmt::format("volume: \"{}\" matched by {}: {}", id, rule, sessions));
}

bool session_matches_app(AudioSession& session, AudioSystem& system, const MediaApplication& app) {
    return !AppSessionFinder().pick({&session}, system, app).empty();
}

AudioResult<std::vector<AudioSessionPtr>> app_sessions_on(AudioSessionManager& manager, AudioSystem& system,
                                                          const MediaApplication& app) {
    return AppSessionFinder().on_device(manager, system, app);
}

AudioResult<std::vector<AudioSessionPtr>> find_app_sessions(AudioSystem& system, const MediaApplication& app) {
    return AppSessionFinder().everywhere(system, app);
}

}  // namespace olvex::volume
