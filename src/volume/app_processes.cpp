#include "volume/app_processes.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/text.hpp"

namespace olvex::volume {

namespace {

// Real process trees are a handful of generations deep; the bound only keeps
// a walk finite over parent links that form a loop.
constexpr int DEEPEST_DESCENT = 64;

constexpr std::array ALL_RULES{MatchRule::media_process, MatchRule::package, MatchRule::executable,
                               MatchRule::window, MatchRule::shell};

using ProcessIndex = std::unordered_map<std::uint32_t, const ProcessFacts*>;

std::string_view without_exe_suffix(std::string_view name) {
    constexpr std::string_view SUFFIX = ".exe";
    if (name.size() > SUFFIX.size() && ascii_iequals(name.substr(name.size() - SUFFIX.size()), SUFFIX)) {
        name.remove_suffix(SUFFIX.size());
    }
    return name;
}

// "Chrome" names chrome.exe, and so do "Chrome.<install suffix>" and
// "Chrome._crx_<web app>"; a short id inside a longer name names nothing.
bool executable_named_by(std::string_view executable, std::string_view app_id) {
    if (executable.empty()) return false;
    const std::string_view stem = without_exe_suffix(executable);
    if (ascii_iequals(executable, app_id) || ascii_iequals(stem, app_id)) return true;
    const std::string_view first_part = app_id.substr(0, app_id.find('.'));
    return !first_part.empty() && first_part.size() < app_id.size() && ascii_iequals(stem, first_part);
}

// "Family!App" ids name a package family: a package's other processes (a
// second, hidden application of it, a helper that plays) belong to it too.
bool in_package_of(const ProcessFacts& process, std::string_view app_id) {
    if (process.package_app_id && ascii_iequals(*process.package_app_id, app_id)) return true;
    const auto bang = app_id.find('!');
    return bang != std::string_view::npos && bang > 0 && process.package_family &&
           ascii_iequals(*process.package_family, app_id.substr(0, bang));
}

bool window_carries(const ProcessFacts& process, std::string_view app_id) {
    return std::ranges::any_of(process.window_app_ids,
                               [&](const std::string& id) { return ascii_iequals(id, app_id); });
}

bool found_by(MatchRule rule, const ProcessFacts& process, std::string_view app_id) {
    switch (rule) {
    case MatchRule::media_process:
        return false;  // named by number, not by facts
    case MatchRule::package:
        return in_package_of(process, app_id);
    case MatchRule::executable:
        return executable_named_by(process.executable, app_id);
    case MatchRule::window:
        return window_carries(process, app_id);
    case MatchRule::shell:
        return process.shell_app_id && ascii_iequals(*process.shell_app_id, app_id);
    }
    return false;
}

std::unordered_set<std::uint32_t> processes_found_by(MatchRule rule, const MediaApplication& app,
                                                     std::span<const ProcessFacts> processes) {
    std::unordered_set<std::uint32_t> found;
    if (rule == MatchRule::media_process) {
        if (app.process_id) found.insert(*app.process_id);
        return found;
    }
    if (app.id.empty()) return found;
    for (const auto& process : processes) {
        if (found_by(rule, process, app.id)) found.insert(process.id);
    }
    found.erase(0);
    return found;
}

// Whether `process` is one of `roots` or descends from one. Each step up
// needs a parent created no later than its child (equal times do happen where
// the clock is coarse); a parent created later is a newer process that got a
// dead parent's number.
bool descends_from_any(std::uint32_t process, const std::unordered_set<std::uint32_t>& roots,
                       const ProcessIndex& index) {
    if (roots.contains(process)) return true;
    auto current = index.find(process);
    for (int generation = 0; generation < DEEPEST_DESCENT && current != index.end(); ++generation) {
        const ProcessFacts& child = *current->second;
        if (child.parent == 0 || child.parent == child.id || child.started == 0) return false;
        const auto parent = index.find(child.parent);
        if (parent == index.end()) return false;
        if (parent->second->started == 0 || parent->second->started > child.started) return false;
        if (roots.contains(child.parent)) return true;
        current = parent;
    }
    return false;
}

}  // namespace

std::string_view rule_name(MatchRule rule) {
    switch (rule) {
    case MatchRule::media_process:
        return "the media session's process";
    case MatchRule::package:
        return "package";
    case MatchRule::executable:
        return "executable name";
    case MatchRule::window:
        return "window application id";
    case MatchRule::shell:
        return "shell shortcut";
    }
    return "unknown rule";
}

std::optional<AppProcessMatch> match_app_processes(const MediaApplication& app,
                                                   std::span<const ProcessFacts> processes,
                                                   std::span<const std::uint32_t> session_processes) {
    ProcessIndex index;
    for (const auto& process : processes) index.emplace(process.id, &process);
    for (const MatchRule rule : ALL_RULES) {
        const auto roots = processes_found_by(rule, app, processes);
        if (roots.empty()) continue;
        AppProcessMatch match{rule, {}};
        for (const std::uint32_t session : session_processes) {
            if (session != 0 && descends_from_any(session, roots, index)) match.session_processes.push_back(session);
        }
        if (!match.session_processes.empty()) return match;
    }
    return std::nullopt;
}

}  // namespace olvex::volume
